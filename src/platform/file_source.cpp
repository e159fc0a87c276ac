#include "platform/file_source.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace {

const std::streambuf::pos_type kSeekFailed(std::streambuf::off_type(-1));

}  // namespace

FileSource::FileSource(const std::string& path)
    : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)), ownsFd_(true) {
  setg(buffer_ + 1, buffer_ + 1, buffer_ + 1);
}

FileSource::FileSource(int fd) : fd_(fd), ownsFd_(false) { setg(buffer_ + 1, buffer_ + 1, buffer_ + 1); }

FileSource::~FileSource() {
  if (ownsFd_ && fd_ >= 0) ::close(fd_);
}

FileSource::int_type FileSource::underflow() {
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  if (fd_ < 0 || readFailed_) return traits_type::eof();
  bool keepsPutback = gptr() > eback();
  if (keepsPutback) buffer_[0] = gptr()[-1];
  ssize_t got;
  do {
    got = ::read(fd_, buffer_ + 1, kBufferSize);
  } while (got < 0 && errno == EINTR);
  if (got <= 0) {
    readFailed_ = got < 0;
    return traits_type::eof();
  }
  setg(keepsPutback ? buffer_ : buffer_ + 1, buffer_ + 1, buffer_ + 1 + got);
  return traits_type::to_int_type(*gptr());
}

// Seeks the descriptor; a pipe cannot, and its reader then skips by reading.
FileSource::pos_type FileSource::seekoff(off_type offset, std::ios_base::seekdir direction,
                                         std::ios_base::openmode which) {
  if (fd_ < 0 || !(which & std::ios_base::in)) return kSeekFailed;
  off_t unread = egptr() - gptr();
  off_t position;
  if (direction == std::ios_base::cur) {
    off_t here = ::lseek(fd_, 0, SEEK_CUR);
    if (here < 0) return kSeekFailed;
    here -= unread;
    if (offset == 0) return pos_type(here);
    position = ::lseek(fd_, here + offset, SEEK_SET);
  } else {
    position = ::lseek(fd_, offset, direction == std::ios_base::beg ? SEEK_SET : SEEK_END);
  }
  if (position < 0) return kSeekFailed;
  setg(buffer_ + 1, buffer_ + 1, buffer_ + 1);
  return pos_type(position);
}

FileSource::pos_type FileSource::seekpos(pos_type position, std::ios_base::openmode which) {
  return seekoff(off_type(position), std::ios_base::beg, which);
}
