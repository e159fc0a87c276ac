// The space check of a transaction, image placement and the flash device
// queries.
#include "install/flash_storage.h"

#include "platform/path_utils.h"
#include "staging/op_line.h"
#include "staging/transaction.h"

const struct stat* PathStatus::info() {
  if (!asked_) exists_ = fs_.status(path_, &info_);
  asked_ = true;
  return exists_ ? &info_ : nullptr;
}

SpaceBudget::SpaceBudget(FileSystem& fs, std::string path) : mountPath(std::move(path)), fs_(&fs) {
  struct statfs info;
  if (fs.freeSpace(mountPath, &info)) {
    blockSize = static_cast<uint32_t>(info.f_bsize);
    freeBlocks = static_cast<int64_t>(info.f_bfree);  // free, not merely available
  } else {
    blockSize = 1;
  }
}

bool SpaceBudget::counts(const std::string& path) const {
  return path.size() >= mountPath.size() && path.compare(0, mountPath.size(), mountPath) == 0;
}

uint64_t SpaceBudget::blocksOf(uint64_t size) const { return (blockSize - 1 + size) / blockSize; }

void SpaceBudget::release(PathStatus& path) {
  const struct stat* info = counts(path.path()) ? path.info() : nullptr;
  if (info != nullptr) freeBlocks += static_cast<int64_t>(blocksOf(info->st_size));
}

bool SpaceBudget::consume(PathStatus& source, PathStatus& destination) {
  if (const struct stat* info = source.info())
    return consume(static_cast<uint64_t>(info->st_dev), static_cast<uint64_t>(info->st_size), destination);
  release(destination);  // a source that cannot be seen costs nothing
  return false;
}

uint64_t SpaceBudget::homeDevice(const std::string& dir) {
  const bool known = !homeDir_.empty() && (dir == homeDir_ || missingBelow(dir, homeDir_, homeFound_));
  homeDir_ = dir;
  if (known) return homeDevice_;
  homeFound_ = dir;
  struct stat info;
  while (!fs_->status(homeFound_, &info)) {
    const size_t slash = homeFound_.rfind('/');
    if (slash == std::string::npos || homeFound_.size() <= 1) {
      homeFound_.clear();
      return homeDevice_ = 0;
    }
    homeFound_.resize(slash == 0 ? 1 : slash);
  }
  return homeDevice_ = static_cast<uint64_t>(info.st_dev);
}

bool SpaceBudget::consume(uint64_t device, uint64_t size, PathStatus& destination) {
  if (!counts(destination.path())) return false;
  // A source on the destination's device replaces it in place.
  const struct stat* info = destination.info();
  if (info != nullptr && static_cast<uint64_t>(info->st_dev) == device) return false;
  // A file that exists lies on another device; a new one goes where its
  // nearest existing directory lies.
  const bool copied = info != nullptr || homeDevice(parentDir(destination.path())) != device;
  if (copied) copiedBlocks += static_cast<int64_t>(blocksOf(size));
  freeBlocks -= static_cast<int64_t>(blocksOf(size));
  // The old destination file will be freed.
  release(destination);
  return copied;
}

namespace {

// What the lines a run adds to the post-install log take.
constexpr int64_t kLogBlocks = 1;

// How staged files and the copies a commit places are named: "tmp" or
// ".tmp" and six letters or digits.
constexpr char kStagedName[] = "/tmpXXXXXX";
constexpr char kCopyName[] = "/.tmpXXXXXX";

// The status of a directory, asked once for a run of files in it, as a
// transaction lists them. A missing directory's ancestors are asked up to
// the first that exists, and a directory below one of them is then known
// to be missing, so that a new tree is asked about once.
class DirectoryStatus {
 public:
  explicit DirectoryStatus(FileSystem& fs) : fs_(fs) {}
  // Null when it cannot be seen.
  const struct stat* of(const std::string& dir) {
    if (asked_ && dir == dir_) return exists_ ? &info_ : nullptr;
    asked_ = true;
    dir_ = dir;
    if (missingBelow(dir, missingFrom_, existing_)) {
      exists_ = false;
      return nullptr;
    }
    exists_ = fs_.status(dir_, &info_);
    if (!exists_) {
      missingFrom_ = dir;
      existing_ = parentDir(dir);
      struct stat info;
      while (!fs_.status(existing_, &info) && existing_ != "/" && existing_ != ".") existing_ = parentDir(existing_);
    }
    return exists_ ? &info_ : nullptr;
  }

 private:
  FileSystem& fs_;
  std::string dir_;
  bool asked_ = false;
  bool exists_ = false;
  struct stat info_;
  // The last way up from a missing directory, and where it ended.
  std::string missingFrom_;
  std::string existing_;
};

// What a commit writes on the main flash while the files it copies in lie
// beside the old ones: the lines it adds to the record of staged files, and
// its journal, which ends with the line that marks that renaming has begun.
// Paths as the board names them, whatever root the check looks at.
class CommitWriting {
 public:
  explicit CommitWriting(const Transaction& transaction) : transaction_(transaction) {}

  void step(char letter, const std::string& path, const std::string& second = std::string()) {
    journalBytes += opLineSize(letter, onBoard(path), onBoard(second)) + 1;
  }
  // A line the run or its commit adds to a record of staged files: the one
  // it has, or, for the commit of a saved transaction, a new one beside the
  // record that the manifest keeps until the commit ends.
  void stagedFile(const std::string& path) { newRecordBytes += opLineSize('S', onBoard(path)) + 1; }

  // A move or creation: a file copied in goes beside its destination first,
  // and a staged file copied goes once everything is in place.
  void place(const std::string& destination, const StagedOp& op, bool copied) {
    if (!copied) return step('M', destination, op.source);
    const std::string copy = parentDir(destination) + kCopyName;
    stagedFile(copy);
    step('M', destination, copy);
    if (op.kind == OpKind::Create) step('D', op.source);
  }

  uint64_t recordBytes = 0;
  uint64_t newRecordBytes = 0;
  uint64_t journalBytes = 2;

 private:
  std::string_view onBoard(const std::string& path) const {
    const std::string& root = transaction_.board().root();
    const std::string_view whole(path);
    return whole.compare(0, root.size(), root) == 0 ? whole.substr(root.size()) : whole;
  }

  const Transaction& transaction_;
};

}  // namespace

bool hasEnoughSpace(const Transaction& transaction) {
  FileSystem& fs = transaction.board().fs();
  SpaceBudget boot(fs, transaction.board().at(kBootDir));
  SpaceBudget main(fs, transaction.board().at(kFlashDir));
  const int64_t bootRoom = boot.freeBlocks;

  // The record goes when the run ends; the commit writes its own meanwhile,
  // with a line for the change marker the run stages last.
  CommitWriting writing(transaction);
  const std::string recordPath = transaction.board().at(kStagedRecordPath);
  PathStatus record(fs, recordPath);
  main.release(record);
  if (record.info() != nullptr) writing.recordBytes = static_cast<uint64_t>(record.info()->st_size);
  writing.stagedFile(transaction.board().at(kFlashDir) + kStagedName);
  // The run's post-install log is written beside the old one once the check
  // is done, before any --commit of what a --safe run saves: a run's lines
  // take a block of the room the copies have.
  const int64_t mainWithoutRecord = main.freeBlocks - kLogBlocks;

  // A file whose directory cannot be seen cannot be either; a staged file
  // whose size the transaction knows lies on the file system of its directory.
  DirectoryStatus parents(fs);
  DirectoryStatus stagingDirs(fs);
  for (const auto& [destination, op] : transaction) {
    switch (op.kind) {
      case OpKind::Remove: {
        PathStatus removed(fs, destination);
        boot.release(removed);
        main.release(removed);
        writing.step('U', destination);
        break;
      }
      case OpKind::Create:
      case OpKind::Move: {
        PathStatus target(fs, destination);
        if (parents.of(parentDir(destination)) == nullptr) target.knownAbsent();
        const struct stat* stagedIn = op.size != kUnknownSize ? stagingDirs.of(parentDir(op.source)) : nullptr;
        if (op.kind == OpKind::Create && stagedIn != nullptr) {
          const auto device = static_cast<uint64_t>(stagedIn->st_dev);
          boot.consume(device, op.size, target);
          writing.place(destination, op, main.consume(device, op.size, target));
          break;
        }
        PathStatus source(fs, op.source);
        boot.consume(source, target);
        writing.place(destination, op, main.consume(source, target));
        break;
      }
      case OpKind::Link:
        writing.step('L', destination, op.source);
        break;
    }
  }

  // Nothing is freed before every file is placed and the journal written.
  const int64_t written = static_cast<int64_t>(main.blocksOf(writing.recordBytes) + main.blocksOf(writing.newRecordBytes) +
                                               main.blocksOf(writing.journalBytes));
  const bool placeable = transaction.isEmpty() || main.copiedBlocks + written <= mainWithoutRecord;
  return boot.freeBlocks > kReservedBlocks && main.freeBlocks > kReservedBlocks && boot.copiedBlocks <= bootRoom &&
         placeable;
}

void placeImage(Transaction& transaction, const std::string& source, const std::string& imagePath, bool bootImage) {
  if (bootImage) {
    transaction.move(source, transaction.board().at(kBootImagePath));
    transaction.link(kBootImagePath, imagePath);
  } else {
    transaction.move(source, imagePath);
  }
}
