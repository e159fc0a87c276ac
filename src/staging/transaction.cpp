#include "staging/transaction.h"

#include <sys/stat.h>
#include <sys/statfs.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <iterator>
#include <set>
#include <utility>
#include <vector>

#include "platform/file_systems.h"
#include "platform/path_utils.h"
#include "platform/regular_file.h"
#include "staging/commit_journal.h"
#include "staging/file_copy.h"
#include "staging/staged_files.h"

// A file a commit copied beside its destination, in the order of the staged
// operations.
struct PlacedCopy {
  // The place of its operation in path order.
  size_t position;
  std::string path;
  // The staged file it was copied from, and whether that goes once committed.
  std::string source;
  bool dropsSource;
};

namespace {

constexpr char kTemporarySuffix[] = "/tmpXXXXXX";
// The longest temporary path the board's staging code provides for.
constexpr size_t kMaxTemporaryPath = 127;

bool exists(FileSystem& fs, const std::string& path) {
  struct stat info;
  return fs.status(path, &info);
}

// The directory `dir`, or its first ancestor that exists: the file system a
// new file in `dir` will be on. False when not even "/" or "." can be seen.
bool homeDirectory(FileSystem& fs, std::string dir, std::string* home, struct stat* info) {
  for (;;) {
    const bool seen = fs.status(dir, info);
    if ((seen && S_ISDIR(info->st_mode)) || dir == "/" || dir == ".") {
      *home = std::move(dir);
      return seen;
    }
    dir = parentDir(dir);
  }
}

// The home directory of the destinations of a commit, asked once per new
// tree, and the file system it lies on.
class HomeDirectories {
 public:
  explicit HomeDirectories(FileSystem& fs) : fs_(fs) {}

  const std::string& of(const std::string& destination) {
    std::string parent = parentDir(destination);
    if (parent != parent_ && !missingBelow(parent, parent_, home_)) {
      struct stat info;
      known_ = homeDirectory(fs_, parent, &home_, &info);
      device_ = known_ ? info.st_dev : 0;
    }
    parent_ = std::move(parent);
    return home_;
  }
  // Whether the file `source` (as stat gave it) lies on the home's file
  // system.
  bool holds(const struct stat& source) const { return known_ && source.st_dev == device_; }
  // Whether the file `source` lies in the home itself, which is then its file
  // system, without asking.
  bool holdsByName(const std::string& source) const { return known_ && parentDir(source) == home_; }

 private:
  FileSystem& fs_;
  std::string parent_;
  std::string home_;
  bool known_ = false;
  dev_t device_ = 0;
};

// What a commit does, walked from the staged operations themselves: deletions,
// links and moves in path order, with the copies placed for those staged on
// another file system, then the deletions of the staged files copied and,
// for a saved transaction, of the record of its staged files: it goes with
// the commit, never before or after it.
class CommitSteps : public JournalSteps {
 public:
  CommitSteps(const StagedOps& ops, const std::vector<PlacedCopy>& copies, std::string savedRecord)
      : ops_(ops), copies_(copies), savedRecord_(std::move(savedRecord)) {}

  void forEach(const Visit& visit, std::string_view only = {}) const override {
    static const std::string kNone;
    const auto wanted = [only](char kind) { return only.empty() || only.find(kind) != std::string_view::npos; };
    auto copy = copies_.begin();
    size_t position = 0;
    // An operation is built only when its step is wanted.
    for (auto entry = ops_.begin(); entry != ops_.end(); ++entry, ++position) {
      const OpKind kind = ops_.kindAt(position);
      const char letter = kind == OpKind::Remove ? 'U' : kind == OpKind::Link ? 'L' : 'M';
      const bool copied = letter == 'M' && copy != copies_.end() && copy->position == position;
      if (copied) ++copy;
      if (!wanted(letter)) continue;
      const auto& [destination, op] = *entry;
      visit(JournalStep{letter, destination, copied ? std::prev(copy)->path : op.source});
    }
    if (!wanted('D')) return;
    for (const PlacedCopy& placed : copies_)
      if (placed.dropsSource) visit(JournalStep{'D', placed.source, kNone});
    if (!savedRecord_.empty()) visit(JournalStep{'D', savedRecord_, kNone});
  }

 private:
  const StagedOps& ops_;
  const std::vector<PlacedCopy>& copies_;
  const std::string savedRecord_;
};

}  // namespace

bool roomForStaging(uint32_t sizeHint, uint32_t blockSize, uint32_t freeBlocks) {
  uint32_t needed = sizeHint + sizeHint / 10;
  uint32_t available = blockSize * freeBlocks;
  return needed < available;
}

Transaction::Transaction(BoardPaths board)
    : board_(std::move(board)), fallbackDir_(board_.at(kRamDir)), record_(board_) {}

std::optional<StagedOp> Transaction::find(const std::string& destination) const {
  const size_t position = ops_.find(destination);
  if (position == StagedOps::npos) return std::nullopt;
  StagedOps::Entry entry;
  ops_.build(position, &entry);
  return std::move(entry.second);
}

// The staging rule: a replaced creation loses its temporary file.
uint32_t Transaction::stage(const std::string& destination, OpKind kind, std::string source) {
  const size_t position = ops_.find(destination);
  if (position == StagedOps::npos) return ops_.insert(destination, kind, source);
  if (ops_.kindAt(position) == OpKind::Create) {
    StagedOps::Entry replaced;
    ops_.build(position, &replaced);
    board_.fs().unlink(replaced.second.source);
    homeSpaceKnown_ = false;
  }
  return ops_.replace(position, kind, source);
}

void Transaction::dropAll() {
  ops_.clear();
  lastCreated_.clear();
  ++generation_;
}

bool Transaction::forEachCreation(const NumberRuns& ids, uint32_t generation,
                                  const std::function<void(const std::string&)>& visit) const {
  if (generation != generation_) return false;
  StagedOps::Entry entry;
  for (size_t position = 0; position < ops_.size(); ++position) {
    const uint32_t id = ops_.idAt(position);
    const auto run = runAfter(ids, id);
    if (run == ids.begin() || std::prev(run)->second < id) continue;
    ops_.build(position, &entry);
    visit(entry.first);
  }
  return true;
}

void Transaction::drop(size_t position) {
  if (ops_.idAt(position) == lastCreation_) lastCreated_.clear();
  if (ops_.kindAt(position) == OpKind::Create) {
    StagedOps::Entry dropped;
    ops_.build(position, &dropped);
    board_.fs().unlink(dropped.second.source);
    homeSpaceKnown_ = false;
  }
  ops_.erase(position);
}

// The first existing ancestor of the destination decides: its file system
// stages the content when it has room, otherwise the fallback directory does.
// The ancestor and its free space are asked once per new tree; the blocks
// the files staged there since take are counted as the file system counts
// them, whole blocks, unless the run may have changed it otherwise.
std::string Transaction::stagingDirFor(const std::string& destination, uint32_t sizeHint) {
  if (sizeHint == 0) return fallbackDir_;
  FileSystem& fs = board_.fs();
  const std::string parent = parentDir(destination);
  if (!lastCreatedSized_ || record_.lines() != homeRecordLines_ || writesItself_) homeSpaceKnown_ = false;
  // A directory below one the last way up found missing has that way's home.
  const bool sameHome = parent == lastParent_ || missingBelow(parent, lastParent_, lastStagingHome_);
  if (sameHome) lastParent_ = parent;
  std::string dir;
  if (sameHome && homeSpaceKnown_) {
    dir = lastStagingHome_;
  } else {
    struct statfs info;
    if (sameHome && fs.freeSpace(lastStagingHome_, &info)) {
      dir = lastStagingHome_;
    } else {
      for (dir = parent; !fs.freeSpace(dir, &info); dir = parentDir(dir)) {
        if (dir == "/" || dir == ".") return fallbackDir_;
      }
      lastParent_ = parent;
      lastStagingHome_ = dir;
    }
    homeSpaceKnown_ = true;
    homeBlockSize_ = static_cast<uint32_t>(info.f_bsize);
    homeFreeBlocks_ = info.f_bfree;
    homeRecordLines_ = record_.lines();
  }
  bool room = roomForStaging(sizeHint, homeBlockSize_, static_cast<uint32_t>(homeFreeBlocks_));
  if (!room || dir.size() + strlen(kTemporarySuffix) > kMaxTemporaryPath) return fallbackDir_;
  return dir;
}

int Transaction::create(const std::string& destination, uint32_t sizeHint, uint32_t mode) {
  FileSystem& fs = board_.fs();
  // The temporary file is recorded before it exists, so that an interrupted
  // run leaves none behind; without one nothing is staged.
  const std::string dir = stagingDirFor(destination, sizeHint);
  // The mode is given at creation when the umask leaves it whole; the bits
  // that creation may drop (set-user-ID, set-group-ID, sticky) and those the
  // umask takes are set after.
  const unsigned permissions = mode & 07777;
  const bool setAfter = mode != 0 && (permissions & (07000 | fs.creationMask())) != 0;
  const unsigned createMode = mode != 0 && !setAfter ? permissions : 0600;
  std::string temporary;
  const int fd = record_.makeTemporaryFile(dir, false, &temporary, createMode);
  if (fd < 0) {
    noteFailure(destination);
    return -1;
  }
  // A file without the mode its package gives it must never be installed.
  if (setAfter && !fs.setMode(fd, mode)) {
    const int error = errno;
    fs.close(fd);
    fs.unlink(temporary);
    errno = error;
    noteFailure(destination);
    return -1;
  }
  lastCreation_ = stage(destination, OpKind::Create, temporary);
  lastCreated_ = destination;
  lastCreatedInHome_ = dir == lastStagingHome_;
  lastCreatedSized_ = false;
  return fd;
}

void Transaction::noteWritten(const std::string& destination, uint32_t size) {
  // Mostly the last creation, whose operation is known without a search.
  if (destination != lastCreated_) {
    const size_t position = ops_.find(destination);
    if (position != StagedOps::npos && ops_.kindAt(position) == OpKind::Create) ops_.setSize(position, size);
    return;
  }
  if (ops_.kindById(lastCreation_) != OpKind::Create) return;
  ops_.setSizeById(lastCreation_, size);
  lastCreatedSized_ = true;
  // Its blocks come off the free space of the home it lies in; a file
  // elsewhere may lie on the same file system.
  if (lastCreatedInHome_ && homeBlockSize_ != 0)
    homeFreeBlocks_ -= std::min<uint64_t>(homeFreeBlocks_, (uint64_t{size} + homeBlockSize_ - 1) / homeBlockSize_);
  else if (size != 0)
    homeSpaceKnown_ = false;
}

void Transaction::move(const std::string& source, const std::string& destination) {
  stage(destination, OpKind::Move, source);
}

void Transaction::link(const std::string& text, const std::string& destination) {
  stage(destination, OpKind::Link, text);
}

void Transaction::remove(const std::string& path) {
  if (exists(board_.fs(), path)) {
    stage(path, OpKind::Remove, std::string());
    return;
  }
  const size_t position = ops_.find(path);
  if (position != StagedOps::npos) drop(position);
}

bool Transaction::keep(const std::string& path) {
  const size_t position = ops_.find(path);
  if (position != StagedOps::npos) {
    if (ops_.kindAt(position) != OpKind::Remove) return false;
    ops_.erase(position);
  }
  struct stat info;
  return !board_.fs().status(path, &info) || S_ISDIR(info.st_mode);
}

bool Transaction::noteTemporary(const std::string& path) {
  writesItself_ = true;
  return record_.record(path);
}

void Transaction::noteFailure(const std::string& path) {
  if (stagingFailure_.error == 0) stagingFailure_ = CommitFailure{errno != 0 ? errno : EIO, path};
}

// A commit in three moves. New content is placed on its destination's file
// system first (a file staged elsewhere is copied beside its destination) and
// made durable; a failure there leaves the board as it was. Then the journal
// is written, and only then does anything change.
bool Transaction::commit(CopyProgress* progress, CommitFailure* failure) {
  CommitFailure ignored;
  if (failure == nullptr) failure = &ignored;
  if (stagingFailure_.error != 0) {
    *failure = stagingFailure_;
    return false;
  }
  if (ops_.empty()) return forgetRecord(failure);
  FileSystem& fs = board_.fs();
  std::vector<PlacedCopy> copies;
  FileSystems placedOn(fs);
  bool placed = placeNewFiles(progress, &copies, &placedOn, failure);
  std::string unsynced;
  if (placed && !placedOn.sync(&unsynced)) {
    *failure = CommitFailure{errno, unsynced};
    placed = false;
  }
  const CommitSteps steps(ops_, copies, loaded_ ? board_.at(kSavedRecordPath) : std::string());
  if (!placed || !writeJournal(board_, steps, failure)) {
    for (const PlacedCopy& copy : copies) fs.unlink(copy.path);
    return false;
  }
  // The commit has made directories that staging may now find.
  lastParent_.clear();
  homeSpaceKnown_ = false;
  if (!applyJournal(board_, steps, false, failure)) {
    // The journal names the staged files now: they stay for the next run.
    failure->journalLeft = true;
    dropAll();
    return false;
  }
  return forgetRecord(failure);
}

// The record goes once what it names is committed. A flash that refuses to
// delete it is failing: that is said, though the board is new.
bool Transaction::forgetRecord(CommitFailure* failure) {
  if (record_.forget()) return true;
  *failure = CommitFailure{errno, board_.at(kStagedRecordPath), true};
  dropAll();
  return false;
}

// Each creation has a temporary file of its own: only a move, which comes
// from a manifest, can name a source that another operation names too.
std::vector<std::string> Transaction::sharedSources() const {
  // Only a move is built: most commits have none.
  std::vector<std::string> moved;
  size_t position = 0;
  for (auto entry = ops_.begin(); entry != ops_.end(); ++entry, ++position)
    if (ops_.kindAt(position) == OpKind::Move) moved.push_back(entry->second.source);
  std::vector<std::string> shared;
  if (moved.empty()) return shared;
  std::sort(moved.begin(), moved.end());
  for (size_t i = 1; i < moved.size(); ++i) {
    if (moved[i] == moved[i - 1] && (shared.empty() || shared.back() != moved[i])) shared.push_back(moved[i]);
  }
  for (const auto& entry : ops_) {
    if (entry.second.kind == OpKind::Create && std::binary_search(moved.begin(), moved.end(), entry.second.source))
      shared.push_back(entry.second.source);
  }
  std::sort(shared.begin(), shared.end());
  shared.erase(std::unique(shared.begin(), shared.end()), shared.end());
  return shared;
}

bool Transaction::placeNewFiles(CopyProgress* progress, std::vector<PlacedCopy>* copies, FileSystems* placedOn,
                                CommitFailure* failure) {
  // Almost always empty: only a manifest can name one source twice.
  const std::vector<std::string> shared = sharedSources();
  std::set<std::string> seen;
  FileSystem& fs = board_.fs();
  HomeDirectories homes(fs);
  size_t position = 0;
  for (auto entry = ops_.begin(); entry != ops_.end(); ++entry, ++position) {
    const auto& [destination, op] = *entry;
    if (op.kind == OpKind::Remove || op.kind == OpKind::Link) continue;
    // A source that this commit changes too would be read in a state nobody
    // can tell; only a manifest can ask for that.
    const bool twice = std::binary_search(shared.begin(), shared.end(), op.source) && !seen.insert(op.source).second;
    if (twice || ops_.find(op.source) != StagedOps::npos) {
      *failure = CommitFailure{EINVAL, op.source};
      return false;
    }
    const std::string& home = homes.of(destination);
    placedOn->add(home);
    // A temporary file this run made in the home is already in place.
    if (op.kind == OpKind::Create && homes.holdsByName(op.source)) continue;
    struct stat source;
    if (!fs.status(op.source, &source)) {
      *failure = CommitFailure{errno, op.source};
      return false;
    }
    if (homes.holds(source)) continue;
    // Hidden, so that the deletion of a directory it lies in passes it over.
    std::string copy;
    const int fd = record_.makeTemporaryFile(home, true, &copy);
    if (fd < 0) {
      *failure = CommitFailure{errno, destination};
      return false;
    }
    // A staged file that was copied is no longer needed; a file that was
    // only moved stays where it is.
    const bool dropsSource = op.kind == OpKind::Create || (loaded_ && isStagingFile(op.source, destination));
    copies->push_back(PlacedCopy{position, copy, op.source, dropsSource});
    bool copied = copyInto(fs, op.source, fd, progress);
    int error = errno;
    if (!fs.close(fd) && copied) {
      copied = false;
      error = errno;
    }
    if (!copied) {
      *failure = CommitFailure{error, destination};
      return false;
    }
  }
  return true;
}

void Transaction::cancel() {
  FileSystem& fs = board_.fs();
  // Each deletion is durable before the record goes; a file that stays is
  // left to the next run, which the record tells about it.
  FileSystems deletedOn(fs);
  bool deleted = true;
  for (const auto& entry : ops_) {
    if (entry.second.kind != OpKind::Create) continue;
    if (fs.unlink(entry.second.source))
      deletedOn.add(parentDir(entry.second.source));
    else
      deleted = deleted && errno == ENOENT;
  }
  dropAll();
  stagingFailure_ = CommitFailure();
  homeSpaceKnown_ = false;
  if (deleted && deletedOn.sync()) record_.forget();
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

bool Transaction::cancelSaved() {
  FileSystem& fs = board_.fs();
  // Durable before the record of the saved files goes, like every deletion
  // of staged files.
  FileSystems deletedOn(fs);
  for (const auto& [destination, op] : ops_) {
    if (op.kind == OpKind::Move && isStagingFile(op.source, destination) && fs.unlink(op.source))
      deletedOn.add(parentDir(op.source));
  }
  cancel();
  return deletedOn.sync() && deleteStagedFiles(board_, board_.at(kSavedRecordPath), {});
}

bool recoverInterruptedRun(const BoardPaths& board, CommitFailure* failure, const JournalSteps::Visit& carriedOut) {
  FileSystem& fs = board.fs();
  // A journal that stays names staged files as its sources: they stay too.
  if (!completeJournal(board, failure, carriedOut)) return false;
  removeAnyEntry(fs, board.at(kNewPostlogPath));
  // The files a saved manifest names wait for its --commit or --cancel; a
  // manifest lost with the RAM disk leaves them to go.
  std::set<std::string> saved;
  Transaction manifest(board);
  if (manifest.load(board.at(kManifestPath))) {
    for (const auto& entry : manifest)
      if (entry.second.kind == OpKind::Move) saved.insert(entry.second.source);
  } else {
    deleteStagedFiles(board, board.at(kSavedRecordPath), saved);
  }
  // What stays, for a flash that refuses to delete it, is deleted by a later run.
  deleteStagedFiles(board, board.at(kStagedRecordPath), saved);
  return true;
}
