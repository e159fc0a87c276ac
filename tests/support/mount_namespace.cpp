#include "support/mount_namespace.h"

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

namespace {

bool writeProcFile(const std::string& path, const std::string& text) {
  std::ofstream out(path);
  out << text;
  out.close();
  return !out.fail();
}

std::string failure(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

bool enter(std::string& why) {
  if (::geteuid() == 0) {
    if (::unshare(CLONE_NEWNS) != 0) return why = failure("unshare(CLONE_NEWNS)"), false;
  } else {
    uid_t uid = ::geteuid();
    gid_t gid = ::getegid();
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
      return why = failure("unshare of a user namespace (unprivileged user namespaces disabled?)"), false;
    // Become root inside the new user namespace: setgroups must be denied
    // before an unprivileged process may map its group.
    if (!writeProcFile("/proc/self/setgroups", "deny") ||
        !writeProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
        !writeProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
      return why = failure("mapping the user to root in the user namespace"), false;
  }
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    return why = failure("making the mounts private"), false;
  return true;
}

}  // namespace

bool enterPrivateMountNamespace(std::string* whyNot) {
  static std::string why;
  static const bool entered = enter(why);
  if (whyNot) *whyNot = why;
  return entered;
}
