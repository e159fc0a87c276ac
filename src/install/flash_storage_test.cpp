#include "install/flash_storage.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "platform/file_sink.h"
#include "platform/flash_devices.h"
#include "staging/transaction.h"
#include "support/scratch_dir.h"
#include "support/tmpfs_mount.h"

namespace {

int64_t freeBlocksAt(const std::string& path) {
  struct statfs info;
  return statfs(path.c_str(), &info) == 0 ? static_cast<int64_t>(info.f_bfree) : -1;
}

// A scratch board whose "/flash" and "/flash/boot" are small tmpfs mounts of
// a chosen number of blocks; "/ram" lies on the scratch directory's own file
// system, another device.
class FlashMounts : public ::testing::Test {
 protected:
  ~FlashMounts() override { unmountFlash(); }

  // False (and the test skipped) where mounting is not permitted.
  bool mountFlash(int flashBlocks, int bootBlocks) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    flash_ = std::make_unique<TmpfsMount>(flash(""), flashBlocks * page);
    if (!flash_->mounted()) return false;
    boot_ = std::make_unique<TmpfsMount>(flash("/boot"), bootBlocks * page);
    if (!boot_->mounted()) return false;
    struct statfs info;
    statfs(flash("").c_str(), &info);
    blockSize = static_cast<uint32_t>(info.f_bsize);
    mkdir((scratch / "ram").c_str(), 0755);
    return freeBlocksAt(flash("")) == flashBlocks && freeBlocksAt(flash("/boot")) == bootBlocks;
  }

  void unmountFlash() {
    boot_.reset();
    flash_.reset();
  }

  std::string flash(const std::string& path) const { return scratch.path() + "/flash" + path; }
  std::string root() const { return scratch.path(); }

  // A file of `size` bytes.
  std::string file(const std::string& path, size_t size) {
    EXPECT_TRUE(writeFile(path, std::string(size, 'x')));
    return path;
  }

  ScratchDir scratch;
  uint32_t blockSize = 0;

 private:
  std::unique_ptr<TmpfsMount> flash_;
  std::unique_ptr<TmpfsMount> boot_;
};

#define MOUNT_OR_SKIP(flashBlocks, bootBlocks)                                     \
  do {                                                                             \
    if (!mountFlash(flashBlocks, bootBlocks)) GTEST_SKIP() << "no tmpfs of the wanted size here"; \
  } while (0)

TEST(SpaceBudget, PrefixCountsWithoutLookingForASlash) {
  SpaceBudget boot("/flash/boot");
  EXPECT_TRUE(boot.counts("/flash/boot"));
  EXPECT_TRUE(boot.counts("/flash/boot/kernel"));
  EXPECT_TRUE(boot.counts("/flash/bootimage"));
  EXPECT_FALSE(boot.counts("/flash/boo"));
  EXPECT_FALSE(boot.counts("/flash/var/boot"));
  EXPECT_FALSE(boot.counts("/Flash/boot"));
}

TEST(SpaceBudget, FileSystemThatCannotBeAskedHasNoBlocksOfOneByte) {
  ScratchDir scratch;
  const std::string missing = scratch / "no/such/flash";
  SpaceBudget budget(missing);
  EXPECT_EQ(budget.blockSize, 1u);
  EXPECT_EQ(budget.freeBlocks, 0);
  EXPECT_FALSE(hasEnoughSpace(Transaction(BoardPaths(scratch.path()))));

  // Freeing 17 bytes below it is enough to pass; an unseen file frees nothing.
  ASSERT_TRUE(writeFile(missing + "-17", std::string(17, 'x')));
  budget.mountPath = scratch.path();
  budget.release(missing + "-17");
  budget.release(missing + "-absent");
  EXPECT_EQ(budget.freeBlocks, 17);
}

TEST(SpaceBudget, BlocksRoundPartialBlocksUp) {
  SpaceBudget budget("/nonexistent-for-this-test");
  budget.blockSize = 1024;
  EXPECT_EQ(budget.blocksOf(0), 0u);
  EXPECT_EQ(budget.blocksOf(1), 1u);
  EXPECT_EQ(budget.blocksOf(4096), 4u);
  EXPECT_EQ(budget.blocksOf(4097), 5u);
}

TEST_F(FlashMounts, EmptyTransactionNeedsMoreThanSixteenFreeBlocksInBoth) {
  struct Case {
    int flashBlocks, bootBlocks;
    bool enough;
  };
  for (const Case c : {Case{17, 17, true}, Case{16, 17, false}, Case{17, 16, false}, Case{40, 40, true}}) {
    {
      MOUNT_OR_SKIP(c.flashBlocks, c.bootBlocks);
      EXPECT_EQ(hasEnoughSpace(Transaction(BoardPaths(scratch.path()))), c.enough)
          << c.flashBlocks << " " << c.bootBlocks;
    }
    unmountFlash();
  }
}

TEST_F(FlashMounts, NewFileCostsItsSizeInWholeBlocks) {
  MOUNT_OR_SKIP(18, 20);
  for (const uint32_t size : {blockSize, blockSize + 1}) {
    Transaction transaction{BoardPaths(scratch.path())};
    transaction.move(file(scratch / "ram/package.vpa", size), flash("/lib/new.so"));
    SpaceBudget main(flash(""));
    main.consume(scratch / "ram/package.vpa", flash("/lib/new.so"));
    EXPECT_EQ(main.freeBlocks, size == blockSize ? 17 : 16);
    // 18 free blocks: one block leaves 17, two leave 16.
    EXPECT_EQ(hasEnoughSpace(transaction), size == blockSize);
  }
}

TEST_F(FlashMounts, CreateOnTheDestinationsDeviceReplacesAnExistingFileForNothing) {
  MOUNT_OR_SKIP(40, 40);
  file(flash("/bin/tool"), blockSize);
  for (const bool exists : {true, false}) {
    const std::string destination = exists ? flash("/bin/tool") : flash("/bin/other");
    Transaction transaction{BoardPaths(scratch.path())};
    FileSink out(transaction.create(destination, 2 * blockSize, 0));
    out.sputn(std::string(2 * blockSize, 'y').data(), 2 * blockSize);
    out.close();
    const StagedOp* op = transaction.find(destination);
    ASSERT_NE(op, nullptr);
    ASSERT_EQ(op->source.compare(0, flash("").size(), flash("")), 0) << "staged on the flash itself";

    SpaceBudget main(flash(""));
    const int64_t before = main.freeBlocks;
    main.consume(op->source, destination);
    EXPECT_EQ(before - main.freeBlocks, exists ? 0 : 2) << destination;
    transaction.cancel();
  }
}

TEST_F(FlashMounts, CreateStagedOnAnotherDeviceCostsItsBlocksAndFreesTheOldFile) {
  MOUNT_OR_SKIP(40, 40);
  file(flash("/bin/tool"), blockSize);
  SpaceBudget main(flash(""));
  const int64_t before = main.freeBlocks;
  main.consume(file(scratch / "ram/tmp", 3 * blockSize), flash("/bin/tool"));
  EXPECT_EQ(main.freeBlocks, before - 3 + 1);
}

// The commit copies a file from another device in beside the one it
// replaces before freeing the old one: the copy needs room for itself even
// when what is left afterwards would be enough.
TEST_F(FlashMounts, AFileCopiedInMustFitBesideTheOneItReplaces) {
  MOUNT_OR_SKIP(60, 40);
  file(flash("/bin/tool"), 30 * blockSize);
  // 30 blocks free: 31 blocks replacing 30 would leave 29, but cannot be
  // placed beside them; 30 can.
  for (const uint32_t blocks : {31u, 30u, 29u}) {
    Transaction transaction{BoardPaths(scratch.path())};
    transaction.move(file(scratch / "ram/tool", blocks * blockSize), flash("/bin/tool"));
    EXPECT_EQ(hasEnoughSpace(transaction), blocks <= 30) << blocks << " blocks";
  }
  Transaction onFlash{BoardPaths(scratch.path())};
  onFlash.move(file(flash("/tmpTool"), 10 * blockSize), flash("/bin/tool"));
  EXPECT_TRUE(hasEnoughSpace(onFlash)) << "a file on the destination's device is renamed, not copied";
}

TEST_F(FlashMounts, BootImageCountsAgainstBothBudgets) {
  MOUNT_OR_SKIP(40, 30);
  const std::string package = file(flash("/rw/pckg/system.vpa"), 2 * blockSize);
  for (const bool existing : {false, true}) {
    if (existing) file(flash("/bootimage"), blockSize);
    SpaceBudget boot(flash("/boot"));
    SpaceBudget main(flash(""));
    const int64_t bootBefore = boot.freeBlocks;
    const int64_t mainBefore = main.freeBlocks;
    boot.consume(package, flash("/bootimage"));
    main.consume(package, flash("/bootimage"));
    // Over an existing boot image on the same device it costs nothing;
    // otherwise the package file's blocks, in both budgets.
    EXPECT_EQ(bootBefore - boot.freeBlocks, existing ? 0 : 2);
    EXPECT_EQ(mainBefore - main.freeBlocks, existing ? 0 : 2);
  }
}

TEST_F(FlashMounts, BootImageWithoutRoomInTheBootAreaFails) {
  // The boot area's own file system has room for nothing but its reserve.
  MOUNT_OR_SKIP(40, 18);
  const std::string package = file(flash("/rw/pckg/system.vpa"), 2 * blockSize);
  Transaction transaction{BoardPaths(scratch.path())};
  placeImage(transaction, package, flash("/var/pdb/system/image"), true);
  EXPECT_FALSE(hasEnoughSpace(transaction));

  Transaction elsewhere{BoardPaths(scratch.path())};
  placeImage(elsewhere, package, flash("/var/pdb/system/image"), false);
  EXPECT_TRUE(hasEnoughSpace(elsewhere));
}

TEST_F(FlashMounts, RemovingAFileInTheBootAreaFreesItInBothBudgets) {
  // The main file system alone is one block short.
  MOUNT_OR_SKIP(16, 20);
  file(flash("/boot/kernel"), 3 * blockSize);
  EXPECT_FALSE(hasEnoughSpace(Transaction(BoardPaths(scratch.path()))));

  SpaceBudget boot(flash("/boot"));
  boot.release(flash("/boot/kernel"));
  EXPECT_EQ(boot.freeBlocks, 20);

  Transaction transaction{BoardPaths(scratch.path())};
  transaction.remove(flash("/boot/kernel"));
  transaction.remove(flash("/absent"));  // nothing staged, nothing freed
  EXPECT_TRUE(hasEnoughSpace(transaction));
}

TEST_F(FlashMounts, LinksCostAndFreeNothing) {
  for (const int flashBlocks : {18, 17}) {
    {
      MOUNT_OR_SKIP(flashBlocks, 20);
      file(flash("/var/pdb/system/image"), blockSize);  // leaves flashBlocks - 1 free
      Transaction transaction{BoardPaths(scratch.path())};
      transaction.link(kBootImagePath, flash("/var/pdb/system/image"));
      EXPECT_EQ(hasEnoughSpace(transaction), flashBlocks - 1 > 16) << flashBlocks;
    }
    unmountFlash();
  }
}

// "M source" or "L text" for the operation staged at the path, "" for none.
std::string staged(const Transaction& transaction, const std::string& path) {
  const StagedOp* op = transaction.find(path);
  if (!op) return "";
  return (op->kind == OpKind::Move ? "M " : op->kind == OpKind::Link ? "L " : "? ") + op->source;
}

TEST(PlaceImage, BootImageIsMovedToItsPlaceAndLinkedFromTheEntry) {
  Transaction transaction;
  placeImage(transaction, "/flash/rw/pckg/system.vpa", "/flash/var/pdb/system/image", true);
  EXPECT_EQ(staged(transaction, "/flash/bootimage"), "M /flash/rw/pckg/system.vpa");
  EXPECT_EQ(staged(transaction, "/flash/var/pdb/system/image"), "L /flash/bootimage");

  Transaction plain;
  placeImage(plain, "/flash/var/pdb//image", "image", false);
  EXPECT_EQ(staged(plain, "image"), "M /flash/var/pdb//image");
  EXPECT_EQ(staged(plain, "/flash/bootimage"), "");
}

// Answers a test gives in place of the board's devices.
class FakeFlashDevices : public FlashDevices {
 public:
  bool mtdOpens = true;
  uint32_t eraseSize = 0;
  bool flashOpens = true;
  int variantResult = 0;

  bool mtdEraseSize(uint32_t* size) override {
    if (mtdOpens) *size = eraseSize;
    return mtdOpens;
  }
  bool flashVariantRequest(int* result) override {
    if (flashOpens) *result = variantResult;
    return flashOpens;
  }
  uint32_t flashMinimumVersion() override { return 0; }
};

TEST(FlashDevices, LargeEraseBlocksAreExactly256KiB) {
  struct Case {
    bool opens;
    uint32_t eraseSize;
    bool large;
  };
  for (const Case c : {Case{true, 0x40000, true}, Case{true, 0x20000, false}, Case{true, 0x80000, false},
                       Case{false, 0x40000, false}}) {
    FakeFlashDevices devices;
    devices.mtdOpens = c.opens;
    devices.eraseSize = c.eraseSize;
    ScopedFlashDevices scoped(&devices);
    EXPECT_EQ(hasLargeEraseBlocks(), c.large) << c.opens << " " << c.eraseSize;
  }
}

TEST(FlashDevices, VariantBitIsBit0x10OfTheRequestsResult) {
  struct Case {
    bool opens;
    int result;
    bool bit;
  };
  for (const Case c : {Case{true, 0x10, true}, Case{true, 0x1F, true}, Case{true, 0x0F, false}, Case{true, 0, false},
                       Case{true, -1, true}, Case{false, 0x10, false}}) {
    FakeFlashDevices devices;
    devices.flashOpens = c.opens;
    devices.variantResult = c.result;
    ScopedFlashDevices scoped(&devices);
    EXPECT_EQ(flashVariantBit(), c.bit) << c.opens << " " << c.result;
  }
}

TEST(FlashDevices, AbsentDevicesAnswerFalse) {
  ScratchDir scratch;
  BoardFlashDevices absent(scratch / "mtd0", scratch / "flash");
  ScopedFlashDevices scoped(&absent);
  EXPECT_FALSE(hasLargeEraseBlocks());
  EXPECT_FALSE(flashVariantBit());
}

}  // namespace
