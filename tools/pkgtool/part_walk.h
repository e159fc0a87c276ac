// The raw layout of a package file: the file header and every part header
// with its offset, read without interpreting any payload. It tells whether
// the file is whole before anything reads its contents.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PartEntry {
  uint64_t offset = 0;  // of the 6-byte part header
  uint16_t type = 0;
  uint32_t length = 0;  // of the payload, which starts at offset + 6
};

struct FileLayout {
  uint64_t size = 0;          // on disk
  uint32_t magic = 0;
  bool hasHeader = false;     // the 8-byte file header was there
  uint32_t lengthField = 0;   // the file header's length field
  std::vector<PartEntry> parts;
  uint64_t trailingBytes = 0; // fewer than 6 bytes after the last part
  std::string broken;         // empty when whole; else what is wrong
};

// The name of a part type for people ("file container"), or "unknown".
const char* partTypeName(uint32_t type);

// Reads the layout of the file at path. False only when the file cannot be
// opened or read (*error says why); a damaged file gives true with
// layout->broken set.
bool walkParts(const std::string& path, FileLayout* layout, std::string* error);
