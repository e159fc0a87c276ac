// A small tmpfs (whole pages) at a path for one test, in the private mount namespace, unmounted when it goes.
#pragma once
#include <sys/stat.h>
#include "support/mount_namespace.h"

class TmpfsMount {
 public:
  TmpfsMount(const std::string& path, size_t bytes) : path_(path) {
    if (!enterPrivateMountNamespace(&error_)) return;
    ::mkdir(path.c_str(), 0755);
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    if (::mount("tmpfs", path.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0)
      error_ = "mounting a tmpfs at " + path + ": " + std::strerror(errno);
  }
  ~TmpfsMount() { if (mounted()) ::umount2(path_.c_str(), MNT_DETACH); }
  TmpfsMount(TmpfsMount&&) = delete;  // and so neither copied nor assigned
  bool mounted() const { return error_.empty(); }
  const std::string& error() const { return error_; }  // why not, for GTEST_SKIP
 private:
  std::string path_, error_;
};
