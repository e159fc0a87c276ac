#include "platform/regular_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

bool isRegularFile(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

int openRegularFile(const std::string& path, int flags, unsigned mode, off_t* size) {
  // O_NONBLOCK keeps the open of a pipe without a writer (or reader) from
  // waiting; it means nothing for a regular file and is taken off again.
  const int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, mode);
  if (fd < 0) return -1;
  struct stat info;
  const bool known = ::fstat(fd, &info) == 0;
  if (!known || !S_ISREG(info.st_mode)) {
    const int error = !known ? errno : S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    ::close(fd);
    errno = error;
    return -1;
  }
  if (!(flags & O_NONBLOCK)) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  if (size != nullptr) *size = info.st_size;
  return fd;
}

void removeAnyEntry(const std::string& path) {
  if (::unlink(path.c_str()) == 0 || (errno != EISDIR && errno != EPERM)) return;
  if (DIR* dir = ::opendir(path.c_str())) {
    while (const struct dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") ::unlink((path + "/" + name).c_str());
    }
    ::closedir(dir);
  }
  ::rmdir(path.c_str());
}
