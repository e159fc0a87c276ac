// Package files given as a path or as standard input.
#include "pkgtool/input_file.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr size_t kCopyChunk = 16384;

// Writes all of length bytes; false with errno set when it cannot.
bool writeAll(int fd, const char* bytes, size_t length) {
  while (length != 0) {
    ssize_t n = write(fd, bytes, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

bool copyStandardInput(int fd, std::string* error) {
  char buffer[kCopyChunk];
  for (;;) {
    ssize_t n = read(0, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
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
  const char* directory = getenv("TMPDIR");
  std::string pattern = std::string(directory != nullptr && *directory ? directory : "/tmp") + "/pkgtool-stdin-XXXXXX";
  std::vector<char> temporary(pattern.begin(), pattern.end());
  temporary.push_back('\0');
  fd_ = mkstemp(temporary.data());
  if (fd_ < 0) {
    *error = pattern + ": cannot create a copy of standard input: " + strerror(errno);
    return false;
  }
  // Gone with the process, whatever ends it.
  unlink(temporary.data());
  path_ = "/dev/fd/" + std::to_string(fd_);
  return copyStandardInput(fd_, error);
}
