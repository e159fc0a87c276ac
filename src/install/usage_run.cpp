#include "install/usage_run.h"

#include <cstdio>

RunReport runUsage(const RunRequest& request) {
  fputs("usage: installer [-q] [-r <root>] [-]\n", request.console.file());
  return RunReport();
}
