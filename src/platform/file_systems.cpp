#include "platform/file_systems.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool FileSystems::note(const std::string& path) {
  if (path == lastPath_) return true;
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return false;
  lastPath_ = path;
  for (const Noted& system : noted_)
    if (system.device == info.st_dev) return true;
  noted_.push_back(Noted{info.st_dev, path});
  return true;
}

void FileSystems::add(const std::string& path) {
  if (!note(path)) unknown_ = true;
}

void FileSystems::addIfPresent(const std::string& path) { note(path); }

void FileSystems::sync() const {
  if (unknown_) {
    ::sync();
    return;
  }
  for (const Noted& system : noted_) {
    // Without waiting on whatever may stand there instead of a directory.
    const int fd = ::open(system.path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      ::sync();
      return;
    }
    ::syncfs(fd);
    ::close(fd);
  }
}
