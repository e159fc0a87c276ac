#include "apply/file_copy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "apply/path_utils.h"
#include "apply/spinner.h"

namespace {

constexpr size_t kCopyChunk = 16384;
constexpr mode_t kPermissionBits = 07777;

// Keeps errno of the first failure across the clean-up calls after it.
class SavedErrno {
 public:
  SavedErrno() : value_(errno) {}
  ~SavedErrno() { errno = value_; }

 private:
  int value_;
};

ssize_t readRetrying(int fd, char* buffer, size_t size) {
  ssize_t got;
  do got = ::read(fd, buffer, size);
  while (got < 0 && errno == EINTR);
  return got;
}

// Writes all `size` bytes; a short write that makes no progress is a failure.
bool writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t put = ::write(fd, data, size);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      if (put == 0) errno = ENOSPC;
      return false;
    }
    data += put;
    size -= static_cast<size_t>(put);
  }
  return true;
}

bool copyContent(int from, int to, Spinner* spinner) {
  std::vector<char> buffer(kCopyChunk);
  for (;;) {
    ssize_t got = readRetrying(from, buffer.data(), buffer.size());
    if (got == 0) return true;
    if (got < 0) return false;
    if (!writeAll(to, buffer.data(), static_cast<size_t>(got))) return false;
    if (spinner) spinner->step();
  }
}

// Opens a new temporary file in the destination's directory.
int openTemporaryBeside(const std::string& destination, std::string& temporary) {
  temporary = parentDir(destination) + "/tmpXXXXXX";
  return ::mkstemp(&temporary[0]);
}

}  // namespace

bool copyFile(const std::string& source, const std::string& destination, Spinner* spinner) {
  // 1. Only a regular file is copied.
  struct stat info;
  if (::stat(source.c_str(), &info) != 0) return false;
  if (!S_ISREG(info.st_mode)) {
    errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    return false;
  }
  // 2. Open the source and a temporary file beside the destination.
  int from = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (from < 0) return false;
  std::string temporary;
  int to = openTemporaryBeside(destination, temporary);
  if (to < 0) {
    SavedErrno saved;
    ::close(from);
    return false;
  }
  // 3. Copy in chunks, give the copy the source's permissions and make it
  //    durable before it replaces the destination.
  bool copied = copyContent(from, to, spinner) && ::fchmod(to, info.st_mode & kPermissionBits) == 0 &&
                ::fsync(to) == 0;
  copied = ::close(to) == 0 && copied;
  if (copied) copied = ::rename(temporary.c_str(), destination.c_str()) == 0;
  // 4. On failure nothing of the copy remains.
  SavedErrno saved;
  if (!copied) ::unlink(temporary.c_str());
  ::close(from);
  return copied;
}
