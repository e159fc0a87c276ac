// A mount namespace private to the test process, so that its tmpfs mounts and chroot runs never reach the
// machine's tree. Entered on the first call, with one thread; false, with why, where the machine forbids it.
#pragma once
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <fstream>

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
  if (whyNot) *whyNot = entered.second;
  return entered.first;
}
