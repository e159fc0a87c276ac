// A file record of a package's file container: mode, processor class, size
// and name, decoded from its 30-byte header (see doc/package_format.md).
#pragma once

#include <cstdint>
#include <string>

#include "platform/byte_source.h"

constexpr size_t kFileRecordHeaderSize = 30;

struct FileRecord {
  uint16_t mode = 0;
  uint8_t processorClass = 0;
  uint32_t size = 0;
  uint16_t nameLength = 0;
  std::string name;
};

// Decodes a record header (name left empty).
FileRecord decodeFileRecordHeader(const unsigned char header[kFileRecordHeaderSize]);

// Whether a board of `boardClass` installs the record: regular files only,
// those meant for every board (class 0) or for this board's class.
bool isInstalledOn(const FileRecord& record, int boardClass);

// Reads exactly `count` bytes; true when they all came.
bool readExactly(ByteSource& in, char* out, size_t count);
