// Reading a file container's records in order: each record's header and name,
// then its content for whoever wants it. The installer and the packaging
// tool's inspection read records through this one reader, so they agree on
// where a container ends.
#pragma once

#include <cstdint>

#include "pkgfile/file_record.h"
#include "pkgfile/inflate_stream.h"

class PackageStream;

// What next() found.
enum class RecordRead {
  Record,        // a whole header and name: record() holds them
  End,           // the compressed data ended after a whole record
  EndInHeader,   // the data ended inside a record header
  EndInName,     // the data ended inside the name of the record begun
  EndInContent,  // the data ended inside the content of record(), left unread
};

// Reads of the reader itself take the current record's content and stop at
// its end; whatever the caller leaves of it, the next next() passes over.
class FileRecordReader : public ByteSource {
 public:
  // Reads the current part of `stream`, a file container; reads stop at the
  // end of that part.
  explicit FileRecordReader(PackageStream& stream);

  RecordRead next();
  const FileRecord& record() const { return record_; }
  // The number, counted from 1, of the record in hand or of the one the data
  // ended in.
  uint64_t number() const { return number_; }

  size_t read(char* out, size_t count) override;
  // The next `count` bytes of the content, without a copy when the inflated
  // data holds them together (see InflateStream::take); else null.
  const char* takeContent(size_t count);

 private:
  InflateStream in_;
  FileRecord record_;
  uint32_t contentLeft_ = 0;
  uint64_t number_ = 0;
};
