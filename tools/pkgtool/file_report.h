// Looking into a package file: its layout, every package's header data and
// file records, and whether each package's signature holds under a key.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/package.h"
#include "pkgfile/file_layout.h"
#include "pkgfile/file_record_reader.h"
#include "signature/signing_key.h"

enum class SignatureVerdict {
  Ok,       // the signature holds
  Bad,      // the signature part is there and does not hold
  Missing,  // the package has no signature part
  None,     // a bundle header, which no signature covers
};

struct PackageReport {
  uint64_t offset = 0;           // of the header part
  // As the reader read the header parts (a pointer: records do not copy).
  std::unique_ptr<PackageInfo> info = std::make_unique<PackageInfo>();
  std::vector<std::string> startDisabled;  // a bundle's member list part
  std::vector<FileRecord> files;
  SignatureVerdict signature = SignatureVerdict::Missing;
};

struct FileReport {
  std::string path;
  FileLayout layout;             // magic, size, parts
  std::vector<PackageReport> packages;  // a bundle first, then its members
  std::string brokenReason;      // empty when whole; else what is wrong

  bool broken() const { return !brokenReason.empty(); }
  // Every package's signature holds (a bundle header needs none).
  bool allSignaturesHold() const;
};

// Reads the file at path. listFiles: also decompress the file containers to
// list their records; a regular file's record named as the installer refuses
// makes the file broken. False only when the file cannot be opened or read
// (*error names it); a damaged file gives true with the report broken.
bool inspectFile(const std::string& path, const PublicKey& key, bool listFiles, FileReport* report,
                 std::string* error);

const char* verdictName(SignatureVerdict verdict);

// Why a file container cannot be read whole, in words: where its data ended
// inside a record, or (read is Record) the record's name the installer refuses.
std::string recordFaultText(RecordRead read, const FileRecordReader& records);
