#include "install/postlog.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "platform/file_systems.h"
#include "platform/regular_file.h"

namespace {

// A log longer than this keeps only its last lines within it, so that a log
// that has grown without bound cannot take the board's memory.
constexpr long kLargestKeptLog = 1 << 20;

// Puts every complete line of the open file before the messages of this
// run, which the log is to follow. Zero bytes are what is left of a blanked
// log whose run never rewrote it; they are no part of any message.
void readCompleteLines(FILE* file, Repository& repository) {
  std::vector<std::string> lines;
  std::string line;
  if (fseek(file, -kLargestKeptLog, SEEK_END) == 0) {
    // Far into a long log: the line it lands in is not whole.
    for (int c = fgetc(file); c != EOF && c != '\n'; c = fgetc(file)) {
    }
  } else {
    rewind(file);
  }
  for (int c = fgetc(file); c != EOF; c = fgetc(file)) {
    if (c == 0) continue;
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else {
      line.push_back(static_cast<char>(c));
    }
  }
  repository.messages.insert(repository.messages.begin(), lines.begin(), lines.end());
}

// The log is written only where it is a regular file or is not there yet:
// a pipe or a device in its place would make the run wait, and a link, even
// one to nothing, would take the log wherever it points.
FILE* openLog(const std::string& path, const char* mode) {
  struct stat info;
  if (::lstat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) return nullptr;
  return fopen(path.c_str(), mode);
}

// Everything the run changed on the board's file systems that outlast a
// power cut becomes durable before the log is written; the RAM disk does not
// outlast one anyway.
void syncBoard(const BoardPaths& board) {
  FileSystems lasting;
  for (const char* dir : {kFlashDir, kBootDir, kSettingsDir}) lasting.addIfPresent(board.at(dir));
  lasting.sync();
}

}  // namespace

void Postlog::load(Repository& repository) {
  const std::string path = board_.at(kPostlogPath);
  // The old lines; a missing or unreadable log has none.
  if (FILE* old = isRegularFile(path) ? fopen(path.c_str(), "rb") : nullptr) {
    readCompleteLines(old, repository);
    fclose(old);
  }
  // Blank the log: zero bytes hold no line.
  if (FILE* blank = openLog(path, "wb")) {
    static const char kZeros[kPostlogBlankSize] = {};
    fwrite(kZeros, 1, sizeof kZeros, blank);
    fclose(blank);
  }
  loaded_ = true;
}

void Postlog::write(const Repository& repository) const {
  if (!loaded_ && repository.messages.empty()) return;
  // The old lines are among the messages once loaded.
  FILE* log = openLog(board_.at(kPostlogPath), loaded_ ? "wb" : "ab");
  if (!log) return;
  syncBoard(board_);
  for (const std::string& message : repository.messages) {
    fwrite(message.data(), 1, message.size(), log);
    fputc('\n', log);
  }
  fclose(log);
}
