// The space check of a transaction, image placement and the flash device
// queries.
#include "install/flash_storage.h"

#include <sys/stat.h>
#include <sys/statfs.h>

#include "platform/path_utils.h"
#include "staging/transaction.h"

const struct stat* PathStatus::info() {
  if (!asked_) exists_ = stat(path_.c_str(), &info_) == 0;
  asked_ = true;
  return exists_ ? &info_ : nullptr;
}

SpaceBudget::SpaceBudget(std::string path) : mountPath(std::move(path)) {
  struct statfs info;
  if (statfs(mountPath.c_str(), &info) == 0) {
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
  PathStatus status(path);
  release(status);
}

void SpaceBudget::release(PathStatus& path) {
  const struct stat* info = counts(path.path()) ? path.info() : nullptr;
  if (info != nullptr) freeBlocks += static_cast<int64_t>(blocksOf(info->st_size));
}

void SpaceBudget::consume(const std::string& source, const std::string& destination) {
  PathStatus sourceStatus(source);
  PathStatus destinationStatus(destination);
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
  while (stat(path.c_str(), &info) != 0) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos || path.size() <= 1) return homeDevice_ = 0;
    path.resize(slash == 0 ? 1 : slash);
  }
  return homeDevice_ = static_cast<uint64_t>(info.st_dev);
}

void SpaceBudget::consume(uint64_t device, uint64_t size, const std::string& destination) {
  PathStatus status(destination);
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
  if (stat(mountPath.c_str(), &info) == 0 && static_cast<uint64_t>(info.st_dev) == device)
    freeBlocks -= static_cast<int64_t>(blocksOf(size));
}

namespace {

// A creation of a dry run lies where a real run would have staged it.
void consumeStaged(SpaceBudget& budget, const Transaction& transaction, const StagedOp& op,
                   const std::string& destination, bool takeFirst) {
  struct stat dir, file;
  if (stat(transaction.stagedIn(destination).c_str(), &dir) != 0 || stat(op.source.c_str(), &file) != 0) return;
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
  SpaceCheck check{SpaceBudget(transaction.board().at(kBootDir)), SpaceBudget(transaction.board().at(kFlashDir))};
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
        PathStatus removed(destination);
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
        PathStatus source(op.source);
        PathStatus target(destination);
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
