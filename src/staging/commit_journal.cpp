#include "staging/commit_journal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/file_io.h"
#include "platform/file_sink.h"
#include "platform/file_systems.h"
#include "platform/path_utils.h"
#include "platform/regular_file.h"
#include "staging/op_line.h"
#include "staging/transaction.h"

namespace {

// The line that marks that every deletion and link is done and renaming has
// begun: deletions are not repeated after it, for a directory deleted again
// would lose what the renames have put into it.
constexpr char kRenamingLine[] = "R";
// Far more than the longest commit writes; what is longer is no journal.
constexpr size_t kLargestJournal = 64u << 20;

void syncDirectory(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// A directory loses its plain files and then itself, unless a hidden entry
// or a subdirectory keeps it.
void removePath(const std::string& path) {
  if (::unlink(path.c_str()) == 0 || errno != EISDIR) return;
  DIR* dir = ::opendir(path.c_str());
  if (!dir) return;
  while (struct dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] != '\0' && entry->d_name[0] != '.') ::unlink((path + "/" + entry->d_name).c_str());
  }
  ::closedir(dir);
  ::rmdir(path.c_str());
}

void makeLink(const std::string& path, const std::string& text) {
  makeDirs(parentDir(path));
  ::unlink(path.c_str());
  if (::symlink(text.c_str(), path.c_str()) != 0) ::perror("symlink");
}

// A rename already done has no source left; it is not done twice. The
// directories are made only when the rename finds one missing.
void renameIntoPlace(const std::string& path, const std::string& source) {
  if (::rename(source.c_str(), path.c_str()) == 0) return;
  struct stat info;
  if (errno == ENOENT) {
    if (::lstat(source.c_str(), &info) != 0) return;
    makeDirs(parentDir(path));
    if (::rename(source.c_str(), path.c_str()) == 0) return;
  }
  ::perror("rename");
}

void markRenamingBegun(const BoardPaths& board) {
  const int fd = openRegularFile(board.at(kJournalPath), O_WRONLY | O_APPEND);
  if (fd < 0) return;
  const std::string line = std::string(kRenamingLine) + "\n";
  writeAll(fd, line.data(), line.size());
  ::fdatasync(fd);
  ::close(fd);
}

// Fields a journal line carries after its letter.
int journalFieldCount(char letter) {
  switch (letter) {
    case 'U':
    case 'D':
      return 1;
    case 'L':
    case 'M':
      return 2;
    default:
      return -1;
  }
}

bool isOnBoard(const BoardPaths& board, const std::string& path) {
  return board.liesBelow(path, kFlashDir) || board.liesBelow(path, kRamDir);
}

// The line of a step, or false for one that is not well-formed or names a
// path outside the flash and the RAM disk.
bool parseStep(const BoardPaths& board, const std::string& line, char* kind, std::string* path,
               std::string* source) {
  const int fields = line.empty() ? -1 : journalFieldCount(line[0]);
  if (fields < 0 || !parseOpLine(line, fields, kind, path, source)) return false;
  const bool placed = *kind == 'D' ? isOnBoard(board, *path) : board.liesBelow(*path, kFlashDir);
  return placed && (*kind != 'M' || isOnBoard(board, *source));
}

// A written journal, whose lines are read again for each pass.
class JournalText : public JournalSteps {
 public:
  explicit JournalText(const BoardPaths& board) : board_(board) {}

  // Reads the journal, all or nothing.
  bool read() {
    if (!readSmallFile(board_.at(kJournalPath), kLargestJournal, &text_)) return false;
    if (!text_.empty() && text_.back() != '\n') return false;
    bool wellFormed = true;
    forEachLine([&](const std::string& line) {
      if (line == kRenamingLine) {
        renamingBegun_ = true;
        return;
      }
      char kind = 0;
      std::string path, source;
      wellFormed = wellFormed && parseStep(board_, line, &kind, &path, &source);
    });
    return wellFormed;
  }
  bool renamingBegun() const { return renamingBegun_; }

  void forEach(const Visit& visit) const override {
    forEachLine([&](const std::string& line) {
      char kind = 0;
      std::string path, source;
      if (line != kRenamingLine && parseStep(board_, line, &kind, &path, &source))
        visit(JournalStep{kind, path, source});
    });
  }

 private:
  void forEachLine(const std::function<void(const std::string&)>& each) const {
    for (size_t start = 0, end; (end = text_.find('\n', start)) != std::string::npos; start = end + 1)
      each(text_.substr(start, end - start));
  }

  const BoardPaths& board_;
  std::string text_;
  bool renamingBegun_ = false;
};

}  // namespace

bool writeJournal(const BoardPaths& board, const JournalSteps& steps, CommitFailure* failure) {
  const std::string next = board.at(kNewJournalPath);
  makeDirs(board.at(kFlashDir));
  const int fd = openRegularFile(next, O_WRONLY | O_CREAT | O_TRUNC, 0600);
  bool written = fd >= 0;
  int error = errno;
  if (written) {
    // Line by line through the sink's buffer, never the whole text at once.
    FileSink journal(fd);
    steps.forEach([&journal](const JournalStep& step) {
      const std::string line = formatOpLine(step.kind, step.path, step.source) + "\n";
      journal.sputn(line.data(), static_cast<std::streamsize>(line.size()));
    });
    written = journal.makeDurable();
    error = errno;
    if (!journal.close() && written) {
      written = false;
      error = errno;
    }
  }
  if (written && ::rename(next.c_str(), (board.at(kJournalPath)).c_str()) != 0) {
    written = false;
    error = errno;
  }
  if (!written) {
    if (failure) *failure = CommitFailure{error, board.at(kJournalPath)};
    ::unlink(next.c_str());
    return false;
  }
  syncDirectory(board.at(kFlashDir));
  return true;
}

void applyJournal(const BoardPaths& board, const JournalSteps& steps, bool renamingBegun) {
  if (!renamingBegun) {
    steps.forEach([](const JournalStep& step) {
      if (step.kind == 'U') removePath(step.path);
      if (step.kind == 'L') makeLink(step.path, step.source);
    });
    markRenamingBegun(board);
  }
  // The file systems every deletion, link and rename changed, also those an
  // interrupted run made before renaming began.
  FileSystems changed;
  steps.forEach([&changed](const JournalStep& step) {
    if (step.kind == 'D') return;
    if (step.kind == 'M') renameIntoPlace(step.path, step.source);
    changed.add(parentDir(step.path));
  });
  // Everything is durable before the journal, and with it the way back, goes.
  changed.sync();
  steps.forEach([](const JournalStep& step) {
    if (step.kind == 'D') ::unlink(step.path.c_str());
  });
  ::unlink((board.at(kJournalPath)).c_str());
}

void completeJournal(const BoardPaths& board, const JournalSteps::Visit& carriedOut) {
  // A journal still being written when the run ended was never acted on.
  removeAnyEntry(board.at(kNewJournalPath));
  JournalText journal(board);
  if (journal.read()) {
    applyJournal(board, journal, journal.renamingBegun());
    if (carriedOut) journal.forEach(carriedOut);
    return;
  }
  // A damaged journal, or anything else in its place, would block every commit.
  removeAnyEntry(board.at(kJournalPath));
}
