#include "install/flash_storage.h"

#include <sys/vfs.h>
#include <unistd.h>

#include <map>
#include <sstream>

#include <gtest/gtest.h>

#include "platform/file_sink.h"
#include "staging/transaction.h"
#include "support/scratch_dir.h"
#include "support/tmpfs_mount.h"

namespace {

PosixFileSystem posixFs;

// A board whose "/flash" and "/flash/boot" are tmpfs mounts with `main` and `boot` blocks free once the files
// ("path:BLOCKS", "+" for a byte more) are written, and a transaction of manifest lines. Each budget must keep
// more than 16 blocks, and a file copied in from another device must fit beside the one it replaces.
TEST(SpaceCheck, BothBudgetsKeepMoreThanSixteenBlocksAndRoomForWhatIsCopiedIn) {
  const char* image = "M /flash/bootimage /flash/i\nL /flash/v /flash/bootimage";  // the boot image placed
  const std::tuple<int, int, const char*, const char*, bool> rows[] = {
      {17, 17, "", "", true}, {16, 17, "", "", false}, {17, 16, "", "", false},
      {18, 17, "/ram/p:1 /ram/e:0", "M /flash/lib/p /ram/p\nM /flash/e /ram/e", true},
      {18, 17, "/ram/p:1+", "M /flash/lib/p /ram/p", false}, {19, 17, "/flash/t:3", "M /flash/new /flash/t", false},
      {4, 17, "/flash/o:30 /flash/t:3", "U /flash/o\nM /flash/z/new /flash/t", true},  // z lies where /flash does
      {17, 17, "/flash/o:1 /flash/t:3", "M /flash/o /flash/t", true},  // on its own device it replaces for nothing
      {18, 17, "/flash/o:1 /ram/n:2", "M /flash/o /ram/n", true},
      {17, 17, "/flash/o:1 /ram/n:2", "M /flash/o /ram/n", false},
      {30, 17, "/flash/o:30 /ram/n:28", "M /flash/o /ram/n", false},  // no room beside it, the log, records, journal
      {30, 17, "/flash/o:30 /ram/n:27", "M /flash/o /ram/n", true},
      // A new file goes where its nearest directory lies, asked again for each directory: w is copied in.
      {17, 18, "/flash/big:30 /flash/boot/t:1 /flash/boot/u:20",
       "U /flash/big\nM /flash/boot/y /flash/boot/t\nM /flash/z/w /flash/boot/u", false},
      {19, 19, "/flash/i:2", image, true}, {19, 18, "/flash/i:2", image, false}, {18, 19, "/flash/i:2", image, false},
      {17, 17, "/flash/i:2 /flash/bootimage:1", image, true}, {16, 17, "/flash/l:1", "L /flash/l x", false},
      {16, 17, "/flash/boot/k:3", "U /flash/boot/k", true}, {16, 17, "/flash/boot/k:3", "U /flash/x", false}};
  const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  for (const auto& [main, boot, files, lines, enough] : rows) {
    ScratchDir scratch;
    std::map<std::string, size_t> used, sizes;  // the blocks of "/flash" and "/flash/boot"; each file's bytes
    std::istringstream words(files);
    for (std::string word; words >> word;) {
      const size_t colon = word.find(':'), blocks = std::stoul(word.substr(colon + 1)), more = word.back() == '+';
      sizes[word.substr(0, colon)] = blocks * page + more;
      used[word.compare(0, 12, "/flash/boot/") == 0 ? "boot" : word.substr(0, 6)] += blocks + more;
    }
    TmpfsMount flash(scratch / "flash", (main + used["/flash"]) * page);
    TmpfsMount area(scratch / "flash/boot", (boot + used["boot"]) * page);
    if (!area.mounted()) GTEST_SKIP() << area.error();
    for (const auto& [path, size] : sizes) writeFile(scratch.path() + path, std::string(size, 'x'));
    const std::string manifest = *lines ? lines + std::string("\n") : "";
    writeFile(scratch / "lines", rooted(manifest, scratch.path()));
    Transaction transaction{BoardPaths(posixFs, scratch.path())};
    ASSERT_TRUE(transaction.load(scratch / "lines"));
    EXPECT_EQ(hasEnoughSpace(transaction), enough) << main << " " << boot << " " << files << " | " << lines;
  }
}

// A staged file the commit copies in from the RAM disk adds its deletion to the journal: a hundred of them take
// the journal into a second block, which the flash must have beside the copies, the new record and the log.
TEST(SpaceCheck, TheJournalHoldsTheDeletionOfEachStagedFileCopiedIn) {
  ScratchDir scratch;
  const std::string flash = scratch / "flash";
  TmpfsMount mount(flash, 1 << 20);
  if (!mount.mounted()) GTEST_SKIP() << mount.error();
  std::filesystem::create_directories(flash + "/boot"), std::filesystem::create_directories(scratch / "ram");
  Transaction transaction{BoardPaths(posixFs, scratch.path())};
  for (int i = 100; i < 200; ++i) {
    writeFile(flash + "/f" + std::to_string(i), "o");
    FileSink(posixFs, transaction.create(flash + "/f" + std::to_string(i), 1u << 30, 0)).write("n", 1);
  }
  struct statfs info;
  ASSERT_EQ(::statfs(flash.c_str(), &info), 0);
  for (const auto& [free, enough] : {std::make_pair(103u, false), std::make_pair(104u, true)}) {
    const std::string size = "size=" + std::to_string((info.f_blocks - info.f_bfree + free) * info.f_bsize);
    ASSERT_EQ(::mount("tmpfs", flash.c_str(), "tmpfs", MS_REMOUNT | MS_NOSUID | MS_NODEV, size.c_str()), 0);
    EXPECT_EQ(hasEnoughSpace(transaction), enough) << free;
  }
}

}  // namespace
