// A small tmpfs (whole pages) at a path for one test, unmounted when it goes, in a mount namespace private
// to the test process, so that its mounts never reach the machine's tree.
#pragma once
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <fstream>

// Entered on the first call, with one thread; false, with why, where the machine forbids it.
inline bool enterPrivateMountNamespace(std::string* whyNot) {
  static const std::pair<bool, std::string> entered = [] {
    // Root enters directly; a user becomes root in a user namespace, setgroups denied before the group is mapped.
    const std::string uid = std::to_string(::geteuid()), gid = std::to_string(::getegid());
    auto map = [&](const char* file, std::string text) { return uid == "0" || (std::ofstream(file) << text).flush(); };
    const bool done = ::unshare(uid == "0" ? CLONE_NEWNS : CLONE_NEWUSER | CLONE_NEWNS) == 0 &&
                      map("/proc/self/setgroups", "deny") && map("/proc/self/uid_map", "0 " + uid + " 1") &&
                      map("/proc/self/gid_map", "0 " + gid + " 1") && ::mount(0, "/", 0, MS_REC | MS_PRIVATE, 0) == 0;
    return std::make_pair(done, done ? "" : std::string("no private mount namespace: ") + std::strerror(errno));
  }();
  *whyNot = entered.second;
  return entered.first;
}

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
