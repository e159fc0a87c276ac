#include "pkgfile/file_record_reader.h"

#include <algorithm>

#include "pkgfile/package_stream.h"

FileRecordReader::FileRecordReader(PackageStream& stream) : in_(*stream.streamBuf()) {}

RecordRead FileRecordReader::next() {
  if (contentLeft_ != 0) {
    const uint32_t left = contentLeft_;
    contentLeft_ = 0;
    if (!in_.skip(left)) return RecordRead::EndInContent;
  }
  ++number_;
  // No count or terminator: the container ends where the compressed data does.
  unsigned char header[kFileRecordHeaderSize];
  const size_t got = in_.read(reinterpret_cast<char*>(header), sizeof header);
  if (got != sizeof header) return got == 0 ? RecordRead::End : RecordRead::EndInHeader;
  record_ = decodeFileRecordHeader(header);
  record_.name.assign(record_.nameLength, '\0');
  if (!readExactly(in_, &record_.name[0], record_.nameLength)) return RecordRead::EndInName;
  contentLeft_ = record_.size;
  return RecordRead::Record;
}

size_t FileRecordReader::read(char* out, size_t count) {
  const size_t got = in_.read(out, std::min<size_t>(count, contentLeft_));
  contentLeft_ -= static_cast<uint32_t>(got);
  return got;
}

const char* FileRecordReader::takeContent(size_t count) {
  if (count > contentLeft_) return nullptr;
  const char* bytes = in_.take(count);
  if (bytes != nullptr) contentLeft_ -= static_cast<uint32_t>(count);
  return bytes;
}
