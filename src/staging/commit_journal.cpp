#include "staging/commit_journal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/file_io.h"
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

// A rename already done has no source left; it is not done twice.
void renameIntoPlace(const std::string& path, const std::string& source) {
  struct stat info;
  if (::lstat(source.c_str(), &info) != 0) return;
  makeDirs(parentDir(path));
  if (::rename(source.c_str(), path.c_str()) != 0) ::perror("rename");
}

void markRenamingBegun(const BoardPaths& board) {
  const int fd = openRegularFile(board.at(kJournalPath), O_WRONLY | O_APPEND);
  if (fd < 0) return;
  const std::string line = std::string(kRenamingLine) + "\n";
  writeAll(fd, line.data(), line.size());
  ::fdatasync(fd);
  ::close(fd);
}

std::string journalText(const std::vector<JournalEntry>& entries) {
  std::string text;
  for (const JournalEntry& entry : entries) text += formatOpLine(entry.kind, entry.path, entry.source) + "\n";
  return text;
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

// Reads the journal, all or nothing.
bool readJournal(const BoardPaths& board, std::vector<JournalEntry>* entries, bool* renamingBegun) {
  std::string text;
  if (!readSmallFile(board.at(kJournalPath), kLargestJournal, &text)) return false;
  if (!text.empty() && text.back() != '\n') return false;
  *renamingBegun = false;
  for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = text.substr(start, end - start);
    if (line == kRenamingLine) {
      *renamingBegun = true;
      continue;
    }
    JournalEntry entry{0, std::string(), std::string()};
    const int fields = line.empty() ? -1 : journalFieldCount(line[0]);
    if (fields < 0 || !parseOpLine(line, fields, &entry.kind, &entry.path, &entry.source)) return false;
    const bool placed = entry.kind == 'D' ? isOnBoard(board, entry.path) : board.liesBelow(entry.path, kFlashDir);
    if (!placed || (entry.kind == 'M' && !isOnBoard(board, entry.source))) return false;
    entries->push_back(entry);
  }
  return true;
}

}  // namespace

bool writeJournal(const BoardPaths& board, const std::vector<JournalEntry>& entries, CommitFailure* failure) {
  const std::string next = board.at(kNewJournalPath);
  const std::string text = journalText(entries);
  makeDirs(board.at(kFlashDir));
  const int fd = openRegularFile(next, O_WRONLY | O_CREAT | O_TRUNC, 0600);
  bool written = fd >= 0 && writeAll(fd, text.data(), text.size()) && ::fsync(fd) == 0;
  int error = errno;
  if (fd >= 0 && ::close(fd) != 0 && written) {
    written = false;
    error = errno;
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

void applyJournal(const BoardPaths& board, const std::vector<JournalEntry>& entries, bool renamingBegun) {
  if (!renamingBegun) {
    for (const JournalEntry& entry : entries) {
      if (entry.kind == 'U') removePath(entry.path);
      if (entry.kind == 'L') makeLink(entry.path, entry.source);
    }
    markRenamingBegun(board);
  }
  for (const JournalEntry& entry : entries)
    if (entry.kind == 'M') renameIntoPlace(entry.path, entry.source);
  // Everything is durable before the journal, and with it the way back, goes.
  ::sync();
  for (const JournalEntry& entry : entries)
    if (entry.kind == 'D') ::unlink(entry.path.c_str());
  ::unlink((board.at(kJournalPath)).c_str());
}

void completeJournal(const BoardPaths& board) {
  // A journal still being written when the run ended was never acted on.
  ::unlink((board.at(kNewJournalPath)).c_str());
  std::vector<JournalEntry> entries;
  bool renamingBegun = false;
  if (readJournal(board, &entries, &renamingBegun)) {
    applyJournal(board, entries, renamingBegun);
    return;
  }
  struct stat info;
  if (::lstat((board.at(kJournalPath)).c_str(), &info) == 0 && !S_ISDIR(info.st_mode))
    ::unlink((board.at(kJournalPath)).c_str());
}
