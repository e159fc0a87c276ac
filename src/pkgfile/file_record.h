// A file record of a package's file container: mode, processor class, size
// and name, decoded from its 30-byte header (see doc/package_format.md).
#pragma once

#include <cstdint>
#include <string>

#include "platform/byte_source.h"

constexpr size_t kFileRecordHeaderSize = 30;
// Where the header's fields lie; bytes 2 to 22 are reserved.
constexpr size_t kRecordModeOffset = 0;
constexpr size_t kRecordClassOffset = 23;
constexpr size_t kRecordSizeOffset = 24;
constexpr size_t kRecordNameLengthOffset = 28;

// The file type bits of a mode, and their value for a regular file.
constexpr uint32_t kFileTypeMask = 0xF000;
constexpr uint32_t kRegularFileType = 0x8000;

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

// Whether the record is a file that a board may never write: a regular file
// whose name is not safe (see isSafeRecordName). It breaks its package.
bool hasUnsafeName(const FileRecord& record);

// Reads exactly `count` bytes; true when they all came.
bool readExactly(ByteSource& in, char* out, size_t count);
