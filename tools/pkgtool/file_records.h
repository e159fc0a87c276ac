// Reading the file records of a package's file container back: each record's
// mode, class, size and name, with its content offered to the caller.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "pkgfile/package_stream.h"

struct FileRecordInfo {
  std::string name;
  uint16_t mode = 0;
  uint8_t processorClass = 0;
  uint32_t size = 0;
};

// visit may read up to record.size bytes of content from the stream it is
// given; whatever it leaves is skipped. It returns false to stop the walk.
using FileRecordVisitor = std::function<bool(const FileRecordInfo& record, ByteSource& content)>;

// Walks the records of the stream's current part, a file container. False
// when the data ends inside a record (*broken says where) or the visitor
// stopped; true at the end of the compressed data after a whole record.
bool forEachFileRecord(PackageStream& stream, const FileRecordVisitor& visit, std::string* broken);
