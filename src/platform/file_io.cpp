#include "platform/file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/regular_file.h"

ssize_t readSome(int fd, void* buffer, size_t size) {
  return retryInterrupted([&] { return ::read(fd, buffer, size); });
}

ssize_t readSomeAt(int fd, void* buffer, size_t size, off_t offset) {
  return retryInterrupted([&] { return ::pread(fd, buffer, size, offset); });
}

namespace {

// Writes all `size` bytes with `put(bytes, count, done)`, which writes at
// most `count` of them and returns how many it wrote.
template <typename Put>
bool putAll(const void* data, size_t size, Put put) {
  const char* bytes = static_cast<const char*>(data);
  for (size_t done = 0; done < size;) {
    const ssize_t wrote = retryInterrupted([&] { return put(bytes + done, size - done, done); });
    if (wrote <= 0) {
      if (wrote == 0) errno = ENOSPC;
      return false;
    }
    done += static_cast<size_t>(wrote);
  }
  return true;
}

}  // namespace

bool writeAll(int fd, const void* data, size_t size) {
  return putAll(data, size, [fd](const char* bytes, size_t count, size_t) { return ::write(fd, bytes, count); });
}

bool writeAllAt(int fd, const void* data, size_t size, off_t offset) {
  return putAll(data, size, [fd, offset](const char* bytes, size_t count, size_t done) {
    return ::pwrite(fd, bytes, count, offset + static_cast<off_t>(done));
  });
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
