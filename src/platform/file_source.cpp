#include "platform/file_source.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/file_io.h"

namespace {

const std::streambuf::pos_type kSeekFailed(std::streambuf::off_type(-1));

}  // namespace

FileSource::FileSource(const std::string& path)
    : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)), ownsFd_(true), offset_(0) {
  setg(buffer_ + 1, buffer_ + 1, buffer_ + 1);
}

FileSource::FileSource(int fd) : fd_(fd), ownsFd_(false), offset_(-1) {
  setg(buffer_ + 1, buffer_ + 1, buffer_ + 1);
}

FileSource::~FileSource() {
  if (ownsFd_ && fd_ >= 0) ::close(fd_);
}

size_t FileSource::readInto(char* out, size_t count) {
  if (fd_ < 0 || readFailed_) return 0;
  const ssize_t got = readSome(fd_, out, count);
  if (got < 0) readFailed_ = true;
  if (got > 0 && offset_ >= 0) offset_ += got;
  return got > 0 ? static_cast<size_t>(got) : 0;
}

FileSource::int_type FileSource::underflow() {
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  bool keepsPutback = gptr() > eback();
  if (keepsPutback) buffer_[0] = gptr()[-1];
  const size_t got = readInto(buffer_ + 1, kBufferSize);
  if (got == 0) return traits_type::eof();
  setg(keepsPutback ? buffer_ : buffer_ + 1, buffer_ + 1, buffer_ + 1 + got);
  return traits_type::to_int_type(*gptr());
}

std::streamsize FileSource::xsgetn(char_type* out, std::streamsize count) {
  std::streamsize done = 0;
  while (done < count) {
    const std::streamsize buffered = egptr() - gptr();
    if (buffered > 0) {
      const std::streamsize taken = std::min(buffered, count - done);
      std::memcpy(out + done, gptr(), static_cast<size_t>(taken));
      gbump(static_cast<int>(taken));
      done += taken;
    } else if (static_cast<size_t>(count - done) >= kDirectRead) {
      const size_t got = readInto(out + done, static_cast<size_t>(count - done));
      if (got == 0) break;
      done += static_cast<std::streamsize>(got);
      // The last byte stays there to be given back, as after a refill.
      buffer_[0] = out[done - 1];
      setg(buffer_, buffer_ + 1, buffer_ + 1);
    } else if (traits_type::eq_int_type(underflow(), traits_type::eof())) {
      break;
    }
  }
  return done;
}

// Seeks the descriptor; a pipe cannot, and its reader then skips by reading.
FileSource::pos_type FileSource::seekoff(off_type offset, std::ios_base::seekdir direction,
                                         std::ios_base::openmode which) {
  if (fd_ < 0 || !(which & std::ios_base::in)) return kSeekFailed;
  off_t unread = egptr() - gptr();
  off_t position;
  if (direction == std::ios_base::cur) {
    if (offset_ < 0) offset_ = ::lseek(fd_, 0, SEEK_CUR);
    if (offset_ < 0) return kSeekFailed;
    const off_t here = offset_ - unread;
    if (offset == 0) return pos_type(here);
    // Forward within what is buffered: the bytes are already here. As after
    // any seek, no byte can be given back.
    if (offset > 0 && offset <= unread) {
      setg(gptr() + offset, gptr() + offset, egptr());
      return pos_type(here + offset);
    }
    position = ::lseek(fd_, here + offset, SEEK_SET);
  } else {
    position = ::lseek(fd_, offset, direction == std::ios_base::beg ? SEEK_SET : SEEK_END);
  }
  if (position < 0) return kSeekFailed;
  offset_ = position;
  setg(buffer_ + 1, buffer_ + 1, buffer_ + 1);
  return pos_type(position);
}

FileSource::pos_type FileSource::seekpos(pos_type position, std::ios_base::openmode which) {
  return seekoff(off_type(position), std::ios_base::beg, which);
}
