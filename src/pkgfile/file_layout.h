// The raw layout of a package file: the file header and every part header
// with its offset, read without interpreting any payload, and what makes the
// file broken before anything reads its contents (see doc/package_format.md).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_system.h"

struct PartEntry {
  uint64_t offset = 0;  // of the 6-byte part header
  uint16_t type = 0;
  uint32_t length = 0;  // of the payload, which starts at offset + 6
};

// The first thing found wrong with a layout.
enum class LayoutFault {
  None,
  ShortHeader,      // fewer than the 8 bytes of the file header
  UnknownMagic,
  LengthDisagrees,  // the header's length field and the size on disk
  PartPastEnd,      // the last of the parts runs past the end of the file
};

struct FileLayout {
  uint64_t size = 0;  // on disk
  uint32_t magic = 0;
  uint32_t lengthField = 0;  // the file header's length field
  std::vector<PartEntry> parts;
  uint64_t trailingBytes = 0;  // fewer than 6 bytes after the last part
  LayoutFault fault = LayoutFault::None;

  // The 8-byte file header was there.
  bool hasHeader() const { return fault != LayoutFault::ShortHeader; }
};

enum class LayoutRead { Read, CannotOpen, NotRegular, CannotRead };

// Reads the layout of the file at `path`, which must be a regular file. A
// damaged file is Read, with the fault set; after CannotOpen or CannotRead
// errno says why.
LayoutRead readFileLayout(FileSystem& fs, const std::string& path, FileLayout* layout);
