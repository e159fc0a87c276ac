// Helpers shared by the packaging tool's tests: a signing key made once per
// test run, and reading a built file's records back independently of the
// tool's own reading code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pkgtool/package_builder.h"

// A fresh key pair, the same for the whole test run.
const PrivateKey& testKey();

struct StoredRecord {
  uint16_t mode = 0;
  uint8_t processorClass = 0;
  std::string name;
  std::string content;
};

// Decodes every file record of the first file container in the file at
// path through InflateStream. False when the file or the container is cut.
bool readStoredRecords(const std::string& path, std::vector<StoredRecord>* records);

// A package request with a name and version and nothing else.
BuildRequest basicRequest(const std::string& name);
