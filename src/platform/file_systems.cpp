#include "platform/file_systems.h"

#include <sys/stat.h>

#include "platform/path_utils.h"

void FileSystems::add(const std::string& path) {
  if (path == lastPath_) return;
  lastPath_ = path;
  std::string existing = path;
  struct stat info;
  while (!fs_.status(existing, &info)) {
    if (existing == "/" || existing == ".") return;  // nothing of the tree exists: nothing changed
    existing = parentDir(existing);
  }
  for (const Noted& system : noted_)
    if (system.device == info.st_dev) return;
  noted_.push_back(Noted{info.st_dev, S_ISDIR(info.st_mode) ? existing : parentDir(existing)});
}

bool FileSystems::sync(std::string* failedPath) const {
  for (const Noted& system : noted_) {
    if (!fs_.syncFileSystem(system.path)) {
      if (failedPath != nullptr) *failedPath = system.path;
      return false;
    }
  }
  return true;
}
