#include "install/postlog.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <vector>

#include "platform/file_sink.h"
#include "platform/file_systems.h"
#include "platform/path_utils.h"
#include "platform/regular_file.h"

namespace {

// A log longer than this keeps only its last lines within it, so that a log
// that has grown without bound cannot take the board's memory.
constexpr off_t kLargestKeptLog = 1 << 20;
constexpr size_t kReadChunk = 4096;

// The complete lines of the log, at most its last kLargestKeptLog bytes.
// Zero bytes are what is left of a log blanked by an older program; they are
// no part of any message. A missing or unreadable log has none.
std::vector<std::string> readCompleteLines(FileSystem& fs, const std::string& path) {
  std::vector<std::string> lines;
  off_t size = 0;
  const int fd = openRegularFile(fs, path, O_RDONLY, 0, &size);
  if (fd < 0) return lines;
  // Far into a long log: the line it lands in is not whole.
  bool skipping = size > kLargestKeptLog && fs.seek(fd, size - kLargestKeptLog, SEEK_SET) >= 0;
  std::string line;
  char chunk[kReadChunk];
  ssize_t got;
  while ((got = fs.read(fd, chunk, sizeof chunk)) > 0) {
    for (ssize_t i = 0; i < got; ++i) {
      const char c = chunk[i];
      if (skipping) {
        skipping = c != '\n';
      } else if (c == '\n') {
        lines.push_back(line);
        line.clear();
      } else if (c != 0) {
        line.push_back(c);
      }
    }
  }
  fs.close(fd);
  return lines;
}

// Everything the run changed on the board's file systems that outlast a
// power cut becomes durable before the log is written; the RAM disk does not
// outlast one anyway.
bool syncBoard(const BoardPaths& board, std::string* failedPath) {
  FileSystem& fs = board.fs();
  FileSystems lasting(fs);
  for (const char* dir : {kFlashDir, kBootDir, kSettingsDir}) {
    struct stat info;
    if (fs.status(board.at(dir), &info)) lasting.add(board.at(dir));
  }
  return lasting.sync(failedPath);
}

// Copies the whole old log, as it is, into `sink`; nothing when there is none.
void copyOldLog(FileSystem& fs, const std::string& path, FileSink& sink) {
  const int fd = openRegularFile(fs, path, O_RDONLY);
  if (fd < 0) return;
  char chunk[kReadChunk];
  ssize_t got;
  while ((got = fs.read(fd, chunk, sizeof chunk)) > 0) sink.write(chunk, static_cast<size_t>(got));
  fs.close(fd);
}

}  // namespace

void Postlog::load(Console& console) {
  console.prependMessages(readCompleteLines(board_.fs(), board_.at(kPostlogPath)));
  loaded_ = true;
}

// The new log is written beside the old one and renamed over it once it is
// durable, so that no run, killed or cut off at any point, leaves a log
// shorter than it found.
bool Postlog::write(const Console& console, std::string* failedPath) const {
  if (!loaded_ && console.messages().empty()) return true;
  FileSystem& fs = board_.fs();
  const std::string path = board_.at(kPostlogPath);
  // The log is written only where it is a regular file or is not there yet:
  // a link, even one to nothing, would take the log wherever it points.
  struct stat info;
  if (fs.status(path, &info, false) && !S_ISREG(info.st_mode)) return true;
  if (!syncBoard(board_, failedPath)) return false;
  const std::string next = board_.at(kNewPostlogPath);
  *failedPath = next;
  const int fd = openRegularFile(fs, next, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0666);
  // A board without a flash directory keeps no log.
  if (fd < 0) return errno == ENOENT;
  FileSink sink(fs, fd);
  // The old lines are among the messages once loaded.
  if (!loaded_) copyOldLog(fs, path, sink);
  for (const std::string& message : console.messages()) {
    sink.write(message.data(), message.size());
    sink.write("\n", 1);
  }
  bool written = sink.makeDurable();
  written = sink.close() && written;
  if (written && fs.rename(next, path)) {
    *failedPath = parentDir(path);
    return syncDirectory(fs, parentDir(path));
  }
  const int error = errno;
  fs.unlink(next);
  errno = error;
  return false;
}
