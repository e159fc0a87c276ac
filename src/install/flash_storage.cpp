// The space check of a transaction, image placement and the flash device
// queries.
#include "install/flash_storage.h"

#include "platform/path_utils.h"
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

void SpaceBudget::release(const std::string& path) {
  PathStatus status(*fs_, path);
  release(status);
}

void SpaceBudget::release(PathStatus& path) {
  const struct stat* info = counts(path.path()) ? path.info() : nullptr;
  if (info != nullptr) freeBlocks += static_cast<int64_t>(blocksOf(info->st_size));
}

void SpaceBudget::consume(const std::string& source, const std::string& destination) {
  PathStatus sourceStatus(*fs_, source);
  PathStatus destinationStatus(*fs_, destination);
  consume(sourceStatus, destinationStatus);
}

void SpaceBudget::consume(PathStatus& source, PathStatus& destination) {
  if (const struct stat* info = source.info()) {
    consume(static_cast<uint64_t>(info->st_dev), static_cast<uint64_t>(info->st_size), destination);
  } else {
    release(destination);  // a source that cannot be seen costs nothing
  }
}

uint64_t SpaceBudget::homeDevice(const std::string& dir) {
  if (dir == homeDir_ && !dir.empty()) return homeDevice_;
  homeDir_ = dir;
  std::string path = dir;
  struct stat info;
  while (!fs_->status(path, &info)) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos || path.size() <= 1) return homeDevice_ = 0;
    path.resize(slash == 0 ? 1 : slash);
  }
  return homeDevice_ = static_cast<uint64_t>(info.st_dev);
}

void SpaceBudget::consume(uint64_t device, uint64_t size, const std::string& destination) {
  PathStatus status(*fs_, destination);
  consume(device, size, status);
}

void SpaceBudget::consume(uint64_t device, uint64_t size, PathStatus& destination) {
  if (!counts(destination.path())) return;
  // A source on the destination's device replaces it in place.
  const struct stat* info = destination.info();
  if (info != nullptr && static_cast<uint64_t>(info->st_dev) == device) return;
  // A file that exists lies on another device; a new one goes where its
  // nearest existing directory lies.
  if (info != nullptr || homeDevice(parentDir(destination.path())) != device)
    copiedBlocks += static_cast<int64_t>(blocksOf(size));
  freeBlocks -= static_cast<int64_t>(blocksOf(size));
  // The old destination file will be freed.
  release(destination);
}

void SpaceBudget::take(uint64_t device, uint64_t size) {
  struct stat info;
  if (fs_->status(mountPath, &info) && static_cast<uint64_t>(info.st_dev) == device)
    freeBlocks -= static_cast<int64_t>(blocksOf(size));
}

namespace {

// A creation of a dry run lies where a real run would have staged it.
void consumeStaged(SpaceBudget& budget, const Transaction& transaction, const StagedOp& op,
                   const std::string& destination, bool takeFirst) {
  FileSystem& fs = transaction.board().fs();
  struct stat dir, file;
  if (!fs.status(transaction.stagedIn(destination), &dir) || !fs.status(op.source, &file)) return;
  const auto device = static_cast<uint64_t>(dir.st_dev);
  const auto size = static_cast<uint64_t>(file.st_size);
  if (takeFirst) {
    budget.take(device, size);
  } else {
    budget.consume(device, size, destination);
  }
}

}  // namespace

SpaceCheck checkSpace(const Transaction& transaction) {
  FileSystem& fs = transaction.board().fs();
  SpaceCheck check{SpaceBudget(fs, transaction.board().at(kBootDir)), SpaceBudget(fs, transaction.board().at(kFlashDir))};
  SpaceBudget& boot = check.boot;
  SpaceBudget& main = check.main;
  check.bootFreeBefore = boot.freeBlocks;
  check.mainFreeBefore = main.freeBlocks;
  // A real run's staged files already take their room when it asks.
  if (transaction.isDryRun()) {
    for (const auto& [destination, op] : transaction) {
      if (op.kind != OpKind::Create) continue;
      consumeStaged(boot, transaction, op, destination, true);
      consumeStaged(main, transaction, op, destination, true);
    }
  }
  const int64_t bootRoom = boot.freeBlocks, mainRoom = main.freeBlocks;

  for (const auto& [destination, op] : transaction) {
    switch (op.kind) {
      case OpKind::Remove: {
        PathStatus removed(fs, destination);
        boot.release(removed);
        main.release(removed);
        break;
      }
      case OpKind::Create:
        if (transaction.isDryRun()) {
          consumeStaged(boot, transaction, op, destination, false);
          consumeStaged(main, transaction, op, destination, false);
          break;
        }
        [[fallthrough]];
      case OpKind::Move: {
        PathStatus source(fs, op.source);
        PathStatus target(fs, destination);
        boot.consume(source, target);
        main.consume(source, target);
        break;
      }
      case OpKind::Link:
        break;
    }
  }

  check.enough = boot.freeBlocks > kReservedBlocks && main.freeBlocks > kReservedBlocks &&
                 boot.copiedBlocks <= bootRoom && main.copiedBlocks <= mainRoom;
  return check;
}

bool hasEnoughSpace(const Transaction& transaction) { return checkSpace(transaction).enough; }

void placeImage(Transaction& transaction, const std::string& source, const std::string& imagePath, bool bootImage) {
  if (bootImage) {
    transaction.move(source, transaction.board().at(kBootImagePath));
    transaction.link(kBootImagePath, imagePath);
  } else {
    transaction.move(source, imagePath);
  }
}
