#include "staging/file_copy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/regular_file.h"
#include "staging/copy_progress.h"

namespace {

constexpr size_t kCopyChunk = 16384;
constexpr mode_t kPermissionBits = 07777;

bool copyContent(FileSystem& fs, int from, int to, CopyProgress* progress) {
  std::vector<char> buffer(kCopyChunk);
  for (;;) {
    ssize_t got = fs.read(from, buffer.data(), buffer.size());
    if (got == 0) return true;
    if (got < 0) return false;
    if (!fs.write(to, buffer.data(), static_cast<size_t>(got))) return false;
    if (progress) progress->step();
  }
}

}  // namespace

bool copyInto(FileSystem& fs, const std::string& source, int destination, CopyProgress* progress) {
  const int from = openRegularFile(fs, source, O_RDONLY);
  if (from < 0) return false;
  struct stat info;
  bool copied = fs.fileStatus(from, &info) && copyContent(fs, from, destination, progress) &&
                fs.setMode(destination, info.st_mode & kPermissionBits);
  const int error = errno;
  fs.close(from);
  errno = error;
  return copied;
}
