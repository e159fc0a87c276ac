// Deflating file records into the file container part.
#include "pkgtool/file_container.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "pkgfile/package_stream.h"
#include "platform/file_io.h"
#include "platform/little_endian.h"

namespace {

constexpr uint64_t kMaxContentSize = 0xFFFFFFFF;
constexpr size_t kMaxNameLength = 0xFFFF;

}  // namespace

void encodeRecordHeader(uint32_t mode, uint8_t processorClass, uint32_t size, uint16_t nameLength,
                        unsigned char out[kFileRecordHeaderSize]) {
  memset(out, 0, kFileRecordHeaderSize);
  putLe16(out + kRecordModeOffset, static_cast<uint16_t>(mode));
  out[kRecordClassOffset] = processorClass;
  putLe32(out + kRecordSizeOffset, size);
  putLe16(out + kRecordNameLengthOffset, nameLength);
}

ContainerWriter::~ContainerWriter() {
  if (started_) deflateEnd(&zstream_);
}

bool ContainerWriter::begin(std::string* error) {
  if (!writer_->beginPart(kFileContainerPart, error)) return false;
  memset(&zstream_, 0, sizeof zstream_);
  if (deflateInit(&zstream_, Z_DEFAULT_COMPRESSION) != Z_OK) {
    *error = writer_->out()->path() + ": cannot start zlib compression";
    return false;
  }
  started_ = true;
  return true;
}

bool ContainerWriter::deflateBytes(const void* data, size_t length, int flush, std::string* error) {
  unsigned char out[kDeflateChunk];
  zstream_.next_in = static_cast<Bytef*>(const_cast<void*>(data));
  zstream_.avail_in = static_cast<uInt>(length);
  do {
    zstream_.next_out = out;
    zstream_.avail_out = sizeof out;
    int result = deflate(&zstream_, flush);
    if (result == Z_STREAM_ERROR) {
      *error = writer_->out()->path() + ": zlib compression failed";
      return false;
    }
    size_t produced = sizeof out - zstream_.avail_out;
    if (produced != 0 && !writer_->out()->write(out, produced, error)) return false;
    // A full output buffer means deflate may hold more for this call.
  } while (zstream_.avail_out == 0);
  return true;
}

bool ContainerWriter::copyContent(int fd, const std::string& sourcePath, uint64_t size, std::string* error) {
  unsigned char buffer[kCopyChunk];
  uint64_t left = size;
  while (left != 0) {
    size_t want = left < kCopyChunk ? static_cast<size_t>(left) : kCopyChunk;
    ssize_t n = readSome(fd, buffer, want);
    if (n < 0) {
      *error = sourcePath + ": cannot read: " + strerror(errno);
      return false;
    }
    if (n == 0) {
      *error = sourcePath + ": file shrank while it was being packaged";
      return false;
    }
    if (!deflateBytes(buffer, static_cast<size_t>(n), Z_NO_FLUSH, error)) return false;
    left -= static_cast<uint64_t>(n);
  }
  // A byte more would mean the file grew after its size was written.
  if (readSome(fd, buffer, 1) != 0) {
    *error = sourcePath + ": file grew while it was being packaged";
    return false;
  }
  return true;
}

bool ContainerWriter::addFile(const std::string& sourcePath, const std::string& name, uint32_t mode,
                              uint8_t processorClass, uint64_t expectedSize, std::string* error) {
  if (expectedSize > kMaxContentSize) {
    *error = sourcePath + ": larger than 4 GiB, too large for a file record";
    return false;
  }
  if (name.size() > kMaxNameLength) {
    *error = sourcePath + ": path longer than 65535 bytes";
    return false;
  }
  // No following of links and no waiting on a pipe that took the file's place.
  int fd = open(sourcePath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) {
    *error = sourcePath + ": cannot open: " + strerror(errno);
    return false;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    *error = sourcePath + ": no longer a regular file";
    close(fd);
    return false;
  }
  unsigned char header[kFileRecordHeaderSize];
  encodeRecordHeader(kRegularFileType | (mode & kPermissionBits), processorClass,
                     static_cast<uint32_t>(expectedSize), static_cast<uint16_t>(name.size()), header);
  bool ok = deflateBytes(header, sizeof header, Z_NO_FLUSH, error) &&
            deflateBytes(name.data(), name.size(), Z_NO_FLUSH, error) &&
            copyContent(fd, sourcePath, expectedSize, error);
  close(fd);
  return ok;
}

bool ContainerWriter::finish(std::string* error) {
  if (!deflateBytes(nullptr, 0, Z_FINISH, error)) return false;
  deflateEnd(&zstream_);
  started_ = false;
  return writer_->endPart(error);
}
