// Package files given as a path or as standard input.
#include "pkgtool/input_file.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "pkgtool/anonymous_file.h"
#include "platform/file_io.h"

namespace {

constexpr size_t kCopyChunk = 16384;

bool copyStandardInput(int fd, std::string* error) {
  char buffer[kCopyChunk];
  for (;;) {
    const ssize_t n = readSome(0, buffer, sizeof buffer);
    if (n == 0) return true;
    if (n < 0) {
      *error = std::string("standard input: cannot read: ") + strerror(errno);
      return false;
    }
    if (!writeAll(fd, buffer, static_cast<size_t>(n))) {
      *error = std::string("standard input: cannot keep a copy: ") + strerror(errno);
      return false;
    }
  }
}

}  // namespace

InputFile::~InputFile() {
  if (fd_ >= 0) close(fd_);
}

bool InputFile::open(const std::string& name, std::string* error) {
  if (name != "-") {
    path_ = name;
    return true;
  }
  std::string pattern;
  fd_ = openAnonymousFile("pkgtool-stdin", &pattern);
  if (fd_ < 0) {
    *error = pattern + ": cannot create a copy of standard input: " + strerror(errno);
    return false;
  }
  path_ = "/dev/fd/" + std::to_string(fd_);
  return copyStandardInput(fd_, error);
}
