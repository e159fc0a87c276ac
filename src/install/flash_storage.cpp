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
  if (!counts(destination)) return;

  // A source on the destination's device replaces it in place.
  struct stat sourceInfo;
  if (stat(source.c_str(), &sourceInfo) == 0) {
    struct stat destinationInfo;
    if (stat(destination.c_str(), &destinationInfo) == 0 && destinationInfo.st_dev == sourceInfo.st_dev) return;
    freeBlocks -= static_cast<int64_t>(blocksOf(sourceInfo.st_size));
  }

  // The old destination file will be freed.
  release(destination);
}

bool hasEnoughSpace(const Transaction& transaction) {
  SpaceBudget boot(transaction.board().at(kBootDir));
  SpaceBudget main(transaction.board().at(kFlashDir));

  for (const auto& [destination, op] : transaction) {
    switch (op.kind) {
      case OpKind::Remove:
        boot.release(destination);
        main.release(destination);
        break;
      case OpKind::Move:
      case OpKind::Create:
        boot.consume(op.source, destination);
        main.consume(op.source, destination);
        break;
      case OpKind::Link:
        break;
    }
  }

  return boot.freeBlocks > kReservedBlocks && main.freeBlocks > kReservedBlocks;
}

void placeImage(Transaction& transaction, const std::string& source, const std::string& imagePath, bool bootImage) {
  if (bootImage) {
    transaction.move(source, transaction.board().at(kBootImagePath));
    transaction.link(kBootImagePath, imagePath);
  } else {
    transaction.move(source, imagePath);
  }
}
