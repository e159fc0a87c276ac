#include "pkgtool/anonymous_file.h"

#include <unistd.h>

#include <cstdlib>
#include <vector>

int openAnonymousFile(const char* stem, std::string* pattern) {
  const char* directory = getenv("TMPDIR");
  *pattern = std::string(directory != nullptr && *directory ? directory : "/tmp") + "/" + stem + "-XXXXXX";
  std::vector<char> name(pattern->begin(), pattern->end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());
  if (fd >= 0) unlink(name.data());
  return fd;
}
