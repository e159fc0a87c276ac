#include "staging/file_copy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/file_io.h"
#include "platform/regular_file.h"
#include "staging/spinner.h"

namespace {

constexpr size_t kCopyChunk = 16384;
constexpr mode_t kPermissionBits = 07777;

bool copyContent(int from, int to, Spinner* spinner) {
  std::vector<char> buffer(kCopyChunk);
  for (;;) {
    ssize_t got = readSome(from, buffer.data(), buffer.size());
    if (got == 0) return true;
    if (got < 0) return false;
    if (!writeAll(to, buffer.data(), static_cast<size_t>(got))) return false;
    if (spinner) spinner->step();
  }
}

}  // namespace

bool copyInto(const std::string& source, int destination, Spinner* spinner) {
  const int from = openRegularFile(source, O_RDONLY);
  if (from < 0) return false;
  struct stat info;
  bool copied = ::fstat(from, &info) == 0 && copyContent(from, destination, spinner) &&
                ::fchmod(destination, info.st_mode & kPermissionBits) == 0 && ::fsync(destination) == 0;
  const int error = errno;
  ::close(from);
  errno = error;
  return copied;
}
