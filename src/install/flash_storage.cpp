// The space check of a transaction, image placement and the flash device
// queries.
#include "install/flash_storage.h"

#include <sys/stat.h>
#include <sys/statfs.h>

#include "staging/transaction.h"

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
  struct stat info;
  if (counts(path) && stat(path.c_str(), &info) == 0) freeBlocks += static_cast<int64_t>(blocksOf(info.st_size));
}

void SpaceBudget::consume(const std::string& source, const std::string& destination) {
  struct stat sourceInfo;
  if (stat(source.c_str(), &sourceInfo) == 0) {
    consume(static_cast<uint64_t>(sourceInfo.st_dev), static_cast<uint64_t>(sourceInfo.st_size), destination);
  } else {
    release(destination);  // a source that cannot be seen costs nothing
  }
}

namespace {

// The device of the nearest directory of `path` that exists: where the commit
// places the file.
uint64_t homeDevice(std::string path) {
  struct stat info;
  while (stat(path.c_str(), &info) != 0) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos || path.size() <= 1) return 0;
    path.resize(slash == 0 ? 1 : slash);
  }
  return static_cast<uint64_t>(info.st_dev);
}

}  // namespace

void SpaceBudget::consume(uint64_t device, uint64_t size, const std::string& destination) {
  if (!counts(destination)) return;
  // A source on the destination's device replaces it in place.
  struct stat destinationInfo;
  if (stat(destination.c_str(), &destinationInfo) == 0 && static_cast<uint64_t>(destinationInfo.st_dev) == device)
    return;
  if (homeDevice(destination) != device) copiedBlocks += static_cast<int64_t>(blocksOf(size));
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
void consumeStaged(SpaceBudget& budget, const StagedOp& op, const std::string& destination, bool takeFirst) {
  struct stat dir, file;
  if (stat(op.stagedIn.c_str(), &dir) != 0 || stat(op.source.c_str(), &file) != 0) return;
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
      consumeStaged(boot, op, destination, true);
      consumeStaged(main, op, destination, true);
    }
  }
  const int64_t bootRoom = boot.freeBlocks, mainRoom = main.freeBlocks;

  for (const auto& [destination, op] : transaction) {
    switch (op.kind) {
      case OpKind::Remove:
        boot.release(destination);
        main.release(destination);
        break;
      case OpKind::Create:
        if (transaction.isDryRun()) {
          consumeStaged(boot, op, destination, false);
          consumeStaged(main, op, destination, false);
          break;
        }
        [[fallthrough]];
      case OpKind::Move:
        boot.consume(op.source, destination);
        main.consume(op.source, destination);
        break;
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
