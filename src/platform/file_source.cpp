#include "platform/file_source.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

#include "platform/regular_file.h"

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

bool FileSource::skip(uint64_t count) {
  count -= dropBuffered(static_cast<size_t>(std::min<uint64_t>(count, buffered())));
  if (count == 0) return true;
  if (fd_ < 0) return false;
  if (offset_ < 0) offset_ = fs_.seek(fd_, 0, SEEK_CUR);
  const off_t position = offset_ < 0 ? -1 : fs_.seek(fd_, offset_ + static_cast<off_t>(count), SEEK_SET);
  if (position < 0) return ByteSource::skip(count);
  offset_ = position;
  return true;
}
