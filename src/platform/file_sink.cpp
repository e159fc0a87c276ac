#include "platform/file_sink.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>

#include "platform/regular_file.h"

FileSink::FileSink(FileSystem& fs, const std::string& path)
    : fs_(fs), fd_(openRegularFile(fs, path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0644)) {
  setp(buffer_, buffer_ + kBufferSize);
}

FileSink::FileSink(FileSystem& fs, int fd) : fs_(fs), fd_(fd) { setp(buffer_, buffer_ + kBufferSize); }

FileSink::~FileSink() { close(); }

bool FileSink::flushBuffer() {
  const size_t pending = static_cast<size_t>(pptr() - pbase());
  setp(buffer_, buffer_ + kBufferSize);
  if (pending == 0 || failed_) return !failed_;
  if (fd_ < 0 || !fs_.write(fd_, buffer_, pending)) failed_ = true;
  return !failed_;
}

FileSink::int_type FileSink::overflow(int_type c) {
  if (!flushBuffer()) return traits_type::eof();
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  *pptr() = traits_type::to_char_type(c);
  pbump(1);
  return c;
}

std::streamsize FileSink::xsputn(const char_type* bytes, std::streamsize count) {
  if (failed_ || fd_ < 0) {
    failed_ = true;
    return 0;
  }
  const size_t room = static_cast<size_t>(epptr() - pptr());
  const size_t size = static_cast<size_t>(count);
  if (size <= room) {
    std::memcpy(pptr(), bytes, size);
    pbump(static_cast<int>(size));
    return count;
  }
  // Larger than the room left: empty the buffer and write the bytes straight.
  if (!flushBuffer() || !fs_.write(fd_, bytes, size)) {
    failed_ = true;
    return 0;
  }
  return count;
}

int FileSink::sync() { return flushBuffer() ? 0 : -1; }

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
