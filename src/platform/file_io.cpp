#include "platform/file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/regular_file.h"

ssize_t readSome(int fd, void* buffer, size_t size) {
  ssize_t got;
  do got = ::read(fd, buffer, size);
  while (got < 0 && errno == EINTR);
  return got;
}

bool writeAll(int fd, const void* data, size_t size) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t put = ::write(fd, bytes, size);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      if (put == 0) errno = ENOSPC;
      return false;
    }
    bytes += put;
    size -= static_cast<size_t>(put);
  }
  return true;
}

bool readSmallFile(FileSystem& fs, const std::string& path, size_t limit, std::string* content, bool followLinks) {
  content->clear();
  const int fd = openRegularFile(fs, path, O_RDONLY | (followLinks ? 0 : O_NOFOLLOW));
  if (fd < 0) return false;
  char chunk[4096];
  ssize_t got;
  while ((got = fs.read(fd, chunk, sizeof chunk)) > 0) {
    if (content->size() + static_cast<size_t>(got) > limit) {
      got = -1;
      errno = EFBIG;
      break;
    }
    content->append(chunk, static_cast<size_t>(got));
  }
  const int error = errno;
  fs.close(fd);
  errno = error;
  return got == 0;
}
