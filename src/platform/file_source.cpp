#include "platform/file_source.h"

#include <fcntl.h>
#include <unistd.h>

#include "platform/regular_file.h"

namespace {

const std::streambuf::pos_type kSeekFailed(std::streambuf::off_type(-1));

}  // namespace

FileSource::FileSource(FileSystem& fs, const std::string& path)
    : DirectReadBuffer(buffer_, kBufferSize, kDirectRead),
      fs_(fs),
      fd_(fs.open(path, O_RDONLY, 0)),
      ownsFd_(true),
      offset_(0) {}

// O_NONBLOCK stays: it changes nothing for a regular file.
FileSource::FileSource(FileSystem& fs, const std::string& path, RegularOnly)
    : DirectReadBuffer(buffer_, kBufferSize, kDirectRead), fs_(fs), fd_(-1), ownsFd_(true), offset_(0) {
  fd_ = openRegularFile(fs, path, O_RDONLY | O_NONBLOCK, 0, &size_);
}

FileSource::FileSource(FileSystem& fs, int fd)
    : DirectReadBuffer(buffer_, kBufferSize, kDirectRead), fs_(fs), fd_(fd), ownsFd_(false), offset_(-1) {}

FileSource::~FileSource() {
  if (ownsFd_ && fd_ >= 0) fs_.close(fd_);
}

size_t FileSource::readInto(char* out, size_t count) {
  if (fd_ < 0 || readFailed_ || (size_ >= 0 && offset_ >= size_)) return 0;
  const ssize_t got = fs_.read(fd_, out, count);
  if (got < 0) readFailed_ = true;
  if (got > 0 && offset_ >= 0) offset_ += got;
  return got > 0 ? static_cast<size_t>(got) : 0;
}

// Seeks the descriptor; a pipe cannot, and its reader then skips by reading.
FileSource::pos_type FileSource::seekoff(off_type offset, std::ios_base::seekdir direction,
                                         std::ios_base::openmode which) {
  if (fd_ < 0 || !(which & std::ios_base::in)) return kSeekFailed;
  off_t unread = egptr() - gptr();
  off_t position;
  if (direction == std::ios_base::cur) {
    if (offset_ < 0) offset_ = fs_.seek(fd_, 0, SEEK_CUR);
    if (offset_ < 0) return kSeekFailed;
    const off_t here = offset_ - unread;
    if (offset == 0) return pos_type(here);
    // Forward within what is buffered: the bytes are already here. As after
    // any seek, no byte can be given back.
    if (offset > 0 && offset <= unread) {
      setg(gptr() + offset, gptr() + offset, egptr());
      return pos_type(here + offset);
    }
    position = fs_.seek(fd_, here + offset, SEEK_SET);
  } else {
    position = fs_.seek(fd_, offset, direction == std::ios_base::beg ? SEEK_SET : SEEK_END);
  }
  if (position < 0) return kSeekFailed;
  offset_ = position;
  emptyArea();
  return pos_type(position);
}

FileSource::pos_type FileSource::seekpos(pos_type position, std::ios_base::openmode which) {
  return seekoff(off_type(position), std::ios_base::beg, which);
}
