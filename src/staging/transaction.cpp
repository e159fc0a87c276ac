#include "staging/transaction.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <set>
#include <utility>
#include <vector>

#include "platform/path_utils.h"
#include "staging/commit_journal.h"
#include "staging/file_copy.h"
#include "staging/spinner.h"
#include "staging/staged_files.h"

namespace {

constexpr char kTemporarySuffix[] = "/tmpXXXXXX";
// The longest temporary path the board's staging code provides for.
constexpr size_t kMaxTemporaryPath = 127;

bool exists(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0;
}

// The directory a new file at `destination` will lie in, or its first
// ancestor that exists: the file system the file will be on.
std::string homeDirectory(const std::string& destination) {
  std::string dir = parentDir(destination);
  for (;;) {
    struct stat info;
    if ((::stat(dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) || dir == "/" || dir == ".") return dir;
    dir = parentDir(dir);
  }
}

uint64_t deviceOf(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_dev) : 0;
}

// A file of a dry run, outside the board and recorded nowhere.
int makeScratchFile(const std::string& directory, std::string* path) {
  *path = directory + "/dryXXXXXX";
  return ::mkstemp(&(*path)[0]);
}

// The home directory of the destinations of a commit, asked once per
// directory, and the file system it lies on.
class HomeDirectories {
 public:
  const std::string& of(const std::string& destination) {
    std::string parent = parentDir(destination);
    if (parent != parent_) {
      home_ = homeDirectory(destination);
      struct stat info;
      known_ = ::stat(home_.c_str(), &info) == 0;
      device_ = known_ ? info.st_dev : 0;
      parent_ = std::move(parent);
    }
    return home_;
  }
  // Whether the file `source` (as stat gave it) lies on the home's file
  // system.
  bool holds(const struct stat& source) const { return known_ && source.st_dev == device_; }

 private:
  std::string parent_;
  std::string home_;
  bool known_ = false;
  dev_t device_ = 0;
};

}  // namespace

bool roomForStaging(uint32_t sizeHint, uint32_t blockSize, uint32_t freeBlocks) {
  uint32_t needed = sizeHint + sizeHint / 10;
  uint32_t available = blockSize * freeBlocks;
  return needed < available;
}

Transaction::Transaction(BoardPaths board)
    : board_(std::move(board)), fallbackDir_(board_.at(kRamDir)), record_(board_) {}

Transaction Transaction::dryRun(BoardPaths board, std::string scratchDirectory) {
  Transaction transaction(std::move(board));
  transaction.scratchDir_ = std::move(scratchDirectory);
  return transaction;
}

const StagedOp* Transaction::find(const std::string& destination) const {
  auto op = ops_.find(destination);
  return op == ops_.end() ? nullptr : &op->second;
}

// The staging rule: a replaced creation loses its temporary file.
void Transaction::stage(const std::string& destination, OpKind kind, std::string source) {
  auto op = ops_.find(destination);
  if (op == ops_.end()) {
    ops_.emplace(destination, StagedOp{kind, std::move(source)});
    return;
  }
  if (op->second.kind == OpKind::Create) ::unlink(op->second.source.c_str());
  op->second.kind = kind;
  op->second.source = std::move(source);
}

void Transaction::drop(OpMap::iterator op) {
  if (op->second.kind == OpKind::Create) ::unlink(op->second.source.c_str());
  ops_.erase(op);
}

// The first existing ancestor of the destination decides: its file system
// stages the content when it has room, otherwise the fallback directory does.
// The free space is asked for every file; the ancestor once per directory.
std::string Transaction::stagingDirFor(const std::string& destination, uint32_t sizeHint) {
  if (sizeHint == 0) return fallbackDir_;
  const std::string parent = parentDir(destination);
  struct statfs info;
  std::string dir;
  if (parent == lastParent_ && ::statfs(lastStagingHome_.c_str(), &info) == 0) {
    dir = lastStagingHome_;
  } else {
    for (dir = parent; ::statfs(dir.c_str(), &info) != 0; dir = parentDir(dir)) {
      if (dir == "/" || dir == ".") return fallbackDir_;
    }
    lastParent_ = parent;
    lastStagingHome_ = dir;
  }
  // A dry run has staged nothing: it counts what a real run would have.
  uint64_t freeBlocks = info.f_bfree;
  if (isDryRun()) {
    const auto taken = dryBlocks_.find(deviceOf(dir));
    if (taken != dryBlocks_.end()) freeBlocks -= std::min(freeBlocks, taken->second);
  }
  bool room = roomForStaging(sizeHint, static_cast<uint32_t>(info.f_bsize), static_cast<uint32_t>(freeBlocks));
  if (!room || dir.size() + strlen(kTemporarySuffix) > kMaxTemporaryPath) return fallbackDir_;
  return dir;
}

int Transaction::create(const std::string& destination, uint32_t sizeHint, uint32_t mode) {
  // The temporary file is recorded before it exists, so that an interrupted
  // run leaves none behind; without one nothing is staged. A dry run makes
  // it in its scratch directory and notes where it would lie.
  const std::string dir = stagingDirFor(destination, sizeHint);
  std::string temporary;
  const int fd =
      isDryRun() ? makeScratchFile(scratchDir_, &temporary) : record_.makeTemporaryFile(dir, false, &temporary);
  if (fd < 0) return -1;
  if (mode != 0) ::fchmod(fd, mode);
  stage(destination, OpKind::Create, temporary);
  if (isDryRun()) {
    ops_[destination].stagedIn = dir;
    struct statfs info;
    if (::statfs(dir.c_str(), &info) == 0 && info.f_bsize > 0)
      dryBlocks_[deviceOf(dir)] += (sizeHint + info.f_bsize - 1) / info.f_bsize;
  }
  return fd;
}

void Transaction::move(const std::string& source, const std::string& destination) {
  stage(destination, OpKind::Move, source);
}

void Transaction::link(const std::string& text, const std::string& destination) {
  stage(destination, OpKind::Link, text);
}

void Transaction::remove(const std::string& path) {
  if (exists(path)) {
    stage(path, OpKind::Remove, std::string());
    return;
  }
  auto op = ops_.find(path);
  if (op != ops_.end()) drop(op);
}

bool Transaction::keep(const std::string& path) {
  auto op = ops_.find(path);
  if (op != ops_.end()) {
    if (op->second.kind != OpKind::Remove) return false;
    ops_.erase(op);
  }
  struct stat info;
  return ::stat(path.c_str(), &info) != 0 || S_ISDIR(info.st_mode);
}

bool Transaction::noteTemporary(const std::string& path) { return isDryRun() || record_.record(path); }

bool Transaction::commit(bool spinner, CommitFailure* failure) {
  return commit(spinner ? &processSpinner() : nullptr, failure);
}

// A commit in three moves. New content is placed on its destination's file
// system first (a file staged elsewhere is copied beside its destination) and
// made durable; a failure there leaves the board as it was. Then the journal
// is written, and only then does anything change.
bool Transaction::commit(Spinner* spinner, CommitFailure* failure) {
  if (isDryRun()) {
    if (failure != nullptr) *failure = CommitFailure{EROFS, std::string()};
    return false;
  }
  if (ops_.empty()) {
    record_.forget();
    return true;
  }
  CommitFailure ignored;
  if (failure == nullptr) failure = &ignored;
  std::vector<JournalEntry> entries;
  std::vector<std::string> copies;
  const bool placed = placeNewFiles(spinner, &entries, &copies, failure);
  if (placed) ::sync();
  if (!placed || !writeJournal(board_, entries, failure)) {
    for (const std::string& copy : copies) ::unlink(copy.c_str());
    return false;
  }
  applyJournal(board_, entries, false);
  // The commit has made directories that staging may now find.
  lastParent_.clear();
  record_.forget();
  return true;
}

bool Transaction::placeNewFiles(Spinner* spinner, std::vector<JournalEntry>* entries,
                                std::vector<std::string>* copies, CommitFailure* failure) {
  std::vector<JournalEntry> deletions;
  std::set<std::string> sources;
  HomeDirectories homes;
  for (const auto& [destination, op] : ops_) {
    if (op.kind == OpKind::Remove || op.kind == OpKind::Link) {
      entries->push_back({op.kind == OpKind::Remove ? 'U' : 'L', destination, op.source});
      continue;
    }
    // A source that this commit changes too would be read in a state nobody
    // can tell; only a manifest can ask for that.
    if (ops_.count(op.source) != 0 || !sources.insert(op.source).second) {
      *failure = CommitFailure{EINVAL, op.source};
      return false;
    }
    struct stat source;
    if (::stat(op.source.c_str(), &source) != 0) {
      *failure = CommitFailure{errno, op.source};
      return false;
    }
    const std::string& home = homes.of(destination);
    if (homes.holds(source)) {
      entries->push_back({'M', destination, op.source});
      continue;
    }
    // Hidden, so that the deletion of a directory it lies in passes it over.
    std::string copy;
    const int fd = record_.makeTemporaryFile(home, true, &copy);
    if (fd < 0) {
      *failure = CommitFailure{errno, destination};
      return false;
    }
    copies->push_back(copy);
    bool copied = copyInto(op.source, fd, spinner);
    int error = errno;
    if (::close(fd) != 0 && copied) {
      copied = false;
      error = errno;
    }
    if (!copied) {
      *failure = CommitFailure{error, destination};
      return false;
    }
    entries->push_back({'M', destination, copy});
    // A staged file that was copied is no longer needed; a file that was
    // only moved stays where it is.
    if (op.kind == OpKind::Create || (loaded_ && isStagingFile(op.source, destination)))
      deletions.push_back({'D', op.source, std::string()});
  }
  entries->insert(entries->end(), deletions.begin(), deletions.end());
  return true;
}

void Transaction::cancel() {
  for (const auto& entry : ops_) {
    if (entry.second.kind == OpKind::Create) ::unlink(entry.second.source.c_str());
  }
  ops_.clear();
  if (!isDryRun()) record_.forget();
}

// A temporary file that create() made for `destination`: named as it names
// them, in the fallback directory or in an ancestor of the destination.
bool Transaction::isStagingFile(const std::string& source, const std::string& destination) const {
  if (!isTemporaryName(baseName(source))) return false;
  std::string dir = parentDir(source);
  if (dir == fallbackDir_) return true;
  for (std::string ancestor = parentDir(destination);; ancestor = parentDir(ancestor)) {
    if (ancestor == dir) return true;
    if (ancestor == "/" || ancestor == ".") return false;
  }
}

void Transaction::cancelSaved() {
  for (const auto& [destination, op] : ops_) {
    if (op.kind == OpKind::Move && isStagingFile(op.source, destination)) ::unlink(op.source.c_str());
  }
  cancel();
}

void recoverInterruptedRun(const BoardPaths& board) {
  completeJournal(board);
  // The files a saved manifest names wait for its --commit or --cancel.
  std::set<std::string> saved;
  Transaction manifest(board);
  if (manifest.load(board.at(kManifestPath))) {
    for (const auto& entry : manifest)
      if (entry.second.kind == OpKind::Move) saved.insert(entry.second.source);
  }
  deleteStagedFiles(board, saved);
}
