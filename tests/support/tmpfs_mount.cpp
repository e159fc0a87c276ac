#include "support/tmpfs_mount.h"

#include <sys/mount.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "support/mount_namespace.h"

TmpfsMount::TmpfsMount(const std::string& path, size_t bytes) : path_(path) {
  std::string why;
  if (!enterPrivateMountNamespace(&why)) {
    error_ = "no private mount namespace for a tmpfs: " + why;
    return;
  }
  ::mkdir(path.c_str(), 0755);
  std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
  if (::mount("tmpfs", path.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
    error_ = "mounting a tmpfs at " + path + ": " + std::strerror(errno);
    return;
  }
  mounted_ = true;
}

TmpfsMount::~TmpfsMount() {
  if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
}
