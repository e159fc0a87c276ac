#include "cli/preparation.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

bool enterRoot(const std::string& root) {
  if (root.empty()) return true;
  if (::chroot(root.c_str()) == 0) return true;
  ::perror("chroot");
  return false;
}

std::string architectureFromEnvironment() {
  const char* arch = std::getenv("arch");
  return arch ? arch : "i386";
}

bool prepareRun(RunOptions& options) {
  // The root directory.
  if (!enterRoot(options.root)) return false;
  // The working directory, against which relative paths of the run
  // resolve; its result is of no consequence.
  int ignored = ::chdir("/");
  static_cast<void>(ignored);
  // The architecture.
  options.architecture = architectureFromEnvironment();
  return true;
}
