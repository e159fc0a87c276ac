#include "staging/commit_journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/file_io.h"
#include "platform/file_sink.h"
#include "platform/file_systems.h"
#include "platform/path_utils.h"
#include "platform/regular_file.h"
#include "staging/op_line.h"
#include "staging/staged_files.h"
#include "staging/transaction.h"

namespace {

// The line that marks that every deletion and link is done and renaming has
// begun: deletions are not repeated after it, for a directory deleted again
// would lose what the renames have put into it.
constexpr char kRenamingLine[] = "R";
// Far more than the longest commit writes; what is longer is no journal.
constexpr size_t kLargestJournal = 64u << 20;

// What a failed step leaves: its errno and path, and the call when a link or
// rename failed.
bool failed(CommitFailure* failure, const std::string& path, const char* call = nullptr) {
  *failure = CommitFailure{errno, path, false, call};
  return false;
}

// A directory loses its plain files and then itself, unless a hidden entry
// or a subdirectory keeps it. Whatever is already gone is done.
bool removePath(FileSystem& fs, const std::string& path, CommitFailure* failure) {
  if (fs.unlink(path) || errno == ENOENT) return true;
  if (errno != EISDIR && errno != EPERM) return failed(failure, path);
  std::vector<DirectoryEntry> entries;
  if (!fs.listDirectory(path, &entries)) return errno == ENOENT || errno == ENOTDIR || failed(failure, path);
  for (const DirectoryEntry& entry : entries) {
    const std::string& name = entry.name;
    if (name[0] == '.') continue;
    const std::string file = path + "/" + name;
    if (!fs.unlink(file) && errno != ENOENT && errno != EISDIR && errno != EPERM) return failed(failure, file);
  }
  if (fs.removeDirectory(path) || errno == ENOTEMPTY || errno == EEXIST || errno == ENOENT) return true;
  return failed(failure, path);
}

bool makeLink(FileSystem& fs, const std::string& path, const std::string& text, CommitFailure* failure) {
  makeDirs(fs, parentDir(path));
  // What stands there goes; a missing directory shows as the symlink's failure.
  if (!fs.unlink(path) && errno != ENOENT && errno != ENOTDIR) return failed(failure, path);
  return fs.symlink(text, path) || failed(failure, path, "symlink");
}

// The renames of a commit, which place each staged file in its directory.
// Steps come in path order, so the directories known above the current one
// form a stack. A directory this pass made was empty: what lies below it is
// missing too, and is made at once instead of after a rename fails.
class Placing {
 public:
  Placing(FileSystem& fs, FileSystems* changed) : fs_(fs), changed_(changed) {}

  // A rename already done has no source left; it is not done twice.
  bool place(const std::string& path, const std::string& source, CommitFailure* failure) {
    const std::string dir = parentDir(path);
    while (!known_.empty() && !isSameOrBelow(dir, known_.back().path)) known_.pop_back();
    if (!known_.empty() && known_.back().made && known_.back().path != dir) makeBelowMade(dir);
    if (fs_.rename(source, path)) return noteExisting(dir);
    if (errno == ENOENT) {
      struct stat info;
      // Placed by an earlier run, perhaps not yet durably.
      if (!fs_.status(source, &info, false)) return noteExisting(dir);
      const size_t before = known_.size();
      makeMissing(dir);
      // The file system of the directories just made is their parent's.
      if (known_.size() > before) changed_->add(known_[before].path);
      if (fs_.rename(source, path)) return noteExisting(dir);
    }
    return failed(failure, path, "rename");
  }

 private:
  struct KnownDirectory {
    std::string path;
    bool made;
  };

  static bool isSameOrBelow(const std::string& dir, const std::string& base) {
    return dir.compare(0, base.size(), base) == 0 && (dir.size() == base.size() || dir[base.size()] == '/');
  }

  bool noteExisting(const std::string& dir) {
    if (known_.empty() || known_.back().path != dir) {
      known_.push_back(KnownDirectory{dir, false});
      changed_->add(dir);
    }
    return true;
  }

  // Each directory from the one below the last made down to `dir`; the
  // first that cannot be made ends it, and the rename tells why.
  void makeBelowMade(const std::string& dir) {
    for (size_t end = known_.back().path.size(); end < dir.size();) {
      end = std::min(dir.find('/', end + 1), dir.size());
      std::string next = dir.substr(0, end);
      if (!fs_.makeDirectory(next, 0777)) return;
      known_.push_back(KnownDirectory{std::move(next), true});
    }
  }

  // Makes `dir` and its missing ancestors, noting each one made.
  void makeMissing(const std::string& dir) {
    std::vector<std::string> made;
    makeDirs(fs_, dir, &made);
    for (std::string& path : made) known_.push_back(KnownDirectory{std::move(path), true});
  }

  FileSystem& fs_;
  FileSystems* changed_;
  std::vector<KnownDirectory> known_;
};

bool markRenamingBegun(const BoardPaths& board, CommitFailure* failure) {
  FileSystem& fs = board.fs();
  const std::string journal = board.at(kJournalPath);
  const int fd = openRegularFile(fs, journal, O_WRONLY | O_APPEND | O_NOFOLLOW);
  if (fd < 0) return failed(failure, journal);
  const std::string line = std::string(kRenamingLine) + "\n";
  const bool marked = fs.write(fd, line.data(), line.size()) && fs.syncData(fd);
  const int error = errno;
  const bool closed = fs.close(fd);
  if (!marked) errno = error;
  return (marked && closed) || failed(failure, journal);
}

// Fields a journal line carries after its letter: a manifest's lines, and
// 'D', a deletion once everything is in place.
int journalFieldCount(char letter) { return letter == 'D' ? 1 : manifestFieldCount(letter); }

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
    if (!readSmallFile(board_.fs(), board_.at(kJournalPath), kLargestJournal, &text_, /*followLinks=*/false)) {
      // Absent, or something else in its place; a journal that the flash
      // fails to give back is kept for a run that can read it.
      unreadable_ = errno != ENOENT && errno != ELOOP && errno != EINVAL && errno != EISDIR && errno != EFBIG &&
                    errno != ENOTDIR;
      return false;
    }
    // The renaming line is appended to a whole journal, and only once every
    // deletion is durable: cut short, it still says so.
    if (text_.size() > 1 && text_.compare(text_.size() - 2, 2, std::string("\n") + kRenamingLine) == 0) text_ += '\n';
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
  bool unreadable() const { return unreadable_; }

  void forEach(const Visit& visit, std::string_view only = {}) const override {
    forEachLine([&](const std::string& line) {
      char kind = 0;
      std::string path, source;
      if (line != kRenamingLine && parseStep(board_, line, &kind, &path, &source) &&
          (only.empty() || only.find(kind) != std::string_view::npos))
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
  bool unreadable_ = false;
};

}  // namespace

bool writeJournal(const BoardPaths& board, const JournalSteps& steps, CommitFailure* failure) {
  FileSystem& fs = board.fs();
  const std::string next = board.at(kNewJournalPath);
  const std::string journal = board.at(kJournalPath);
  makeDirs(fs, board.at(kFlashDir));
  const int fd = openRegularFile(fs, next, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0600);
  bool written = fd >= 0;
  int error = errno;
  if (written) {
    // Line by line through the sink's buffer, never the whole text at once.
    FileSink sink(fs, fd);
    std::string line;
    steps.forEach([&sink, &line](const JournalStep& step) {
      line.clear();
      appendOpLine(&line, step.kind, step.path, step.source);
      line += '\n';
      sink.write(line.data(), line.size());
    });
    written = sink.makeDurable();
    error = errno;
    if (!sink.close() && written) {
      written = false;
      error = errno;
    }
  }
  if (written && !fs.rename(next, journal)) {
    written = false;
    error = errno;
  }
  // Only a journal whose name is durable may be acted on: one that might not
  // outlast a power cut goes, and the commit with it.
  if (written && !syncDirectory(fs, board.at(kFlashDir))) {
    error = errno;
    fs.unlink(journal);
    written = false;
  }
  if (!written) {
    *failure = CommitFailure{error, journal};
    fs.unlink(next);
    return false;
  }
  return true;
}

bool applyJournal(const BoardPaths& board, const JournalSteps& steps, bool renamingBegun, CommitFailure* failure) {
  FileSystem& fs = board.fs();
  bool done = true;
  // The file systems every deletion, link and rename changed, also those an
  // interrupted run made before renaming began.
  FileSystems changed(fs);
  std::string unsynced;
  if (!renamingBegun) {
    steps.forEach(
        [&](const JournalStep& step) {
          if (!done) return;
          done = step.kind == 'U' ? removePath(fs, step.path, failure) : makeLink(fs, step.path, step.source, failure);
          changed.add(parentDir(step.path));
        },
        "UL");
    // Deletions are never repeated once the journal says renaming has begun:
    // they are durable before it says so.
    if (done && !changed.sync(&unsynced)) done = failed(failure, unsynced);
    done = done && markRenamingBegun(board, failure);
  }
  Placing placing(fs, &changed);
  steps.forEach(
      [&](const JournalStep& step) {
        if (!done) return;
        if (step.kind == 'M')
          done = placing.place(step.path, step.source, failure);
        else
          changed.add(parentDir(step.path));
      },
      "ULM");
  // Everything is durable before the journal, and with it the way back, goes.
  if (done && !changed.sync(&unsynced)) done = failed(failure, unsynced);
  // The record of a saved transaction's staged files takes along what the
  // commit left of them: those of a manifest a later --safe replaced.
  const std::string savedRecord = board.at(kSavedRecordPath);
  steps.forEach(
      [&](const JournalStep& step) {
        if (!done) return;
        if (step.path == savedRecord ? !deleteStagedFiles(board, step.path, {})
                                     : !fs.unlink(step.path) && errno != ENOENT)
          done = failed(failure, step.path);
      },
      "D");
  const std::string journal = board.at(kJournalPath);
  // The journal's removal need not be durable: a journal that comes back is
  // completed again, and finds every step done.
  if (done && !fs.unlink(journal) && errno != ENOENT) done = failed(failure, journal);
  return done;
}

bool completeJournal(const BoardPaths& board, CommitFailure* failure, const JournalSteps::Visit& carriedOut) {
  // A journal still being written when the run ended was never acted on.
  removeAnyEntry(board.fs(), board.at(kNewJournalPath));
  JournalText journal(board);
  if (journal.read()) {
    if (!applyJournal(board, journal, journal.renamingBegun(), failure)) return false;
    if (carriedOut) journal.forEach(carriedOut);
    return true;
  }
  if (journal.unreadable()) return failed(failure, board.at(kJournalPath));
  // A damaged journal, or anything else in its place, would block every commit.
  removeAnyEntry(board.fs(), board.at(kJournalPath));
  return true;
}
