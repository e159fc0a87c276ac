#include "platform/regular_file.h"

#include <fcntl.h>

#include <cerrno>
#include <vector>

bool isRegularFile(FileSystem& fs, const std::string& path) {
  struct stat info;
  return fs.status(path, &info) && S_ISREG(info.st_mode);
}

int openRegularFile(FileSystem& fs, const std::string& path, int flags, unsigned mode, off_t* size) {
  // O_NONBLOCK keeps the open of a pipe without a writer (or reader) from
  // waiting; it means nothing for a regular file and is taken off again.
  const int fd = fs.open(path, flags | O_NONBLOCK, mode);
  if (fd < 0) return -1;
  struct stat info;
  const bool known = fs.fileStatus(fd, &info);
  if (!known || !S_ISREG(info.st_mode)) {
    const int error = !known ? errno : S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    fs.close(fd);
    errno = error;
    return -1;
  }
  if (!(flags & O_NONBLOCK)) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  if (size != nullptr) *size = info.st_size;
  return fd;
}

void removeAnyEntry(FileSystem& fs, const std::string& path) {
  if (fs.unlink(path) || (errno != EISDIR && errno != EPERM)) return;
  std::vector<DirectoryEntry> entries;
  if (fs.listDirectory(path, &entries)) {
    for (const DirectoryEntry& entry : entries) fs.unlink(path + "/" + entry.name);
  }
  fs.removeDirectory(path);
}
