#include "platform/file_sink.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>

#include "platform/regular_file.h"

FileSink::FileSink(FileSystem& fs, const std::string& path)
    : fs_(fs), fd_(openRegularFile(fs, path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0644)) {}

FileSink::FileSink(FileSystem& fs, int fd) : fs_(fs), fd_(fd) {}

FileSink::~FileSink() { close(); }

bool FileSink::flushBuffer() {
  const size_t pending = used_;
  used_ = 0;
  if (pending == 0 || failed_) return !failed_;
  if (fd_ < 0 || !fs_.write(fd_, buffer_, pending)) failed_ = true;
  return !failed_;
}

bool FileSink::write(const char* bytes, size_t count) {
  if (failed_ || fd_ < 0) {
    failed_ = true;
    return false;
  }
  if (count <= kBufferSize - used_) {
    std::memcpy(buffer_ + used_, bytes, count);
    used_ += count;
    return true;
  }
  // Larger than the room left: empty the buffer and write the bytes straight.
  if (!flushBuffer() || !fs_.write(fd_, bytes, count)) failed_ = true;
  return !failed_;
}

bool FileSink::makeDurable() {
  if (fd_ < 0 || !flushBuffer()) return false;
  if (!fs_.syncFile(fd_)) failed_ = true;
  return !failed_;
}

bool FileSink::close() {
  if (fd_ < 0) return false;
  flushBuffer();
  if (!fs_.close(fd_)) failed_ = true;
  fd_ = -1;
  return !failed_;
}
