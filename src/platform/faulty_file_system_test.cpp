#include "platform/faulty_file_system.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "support/scratch_dir.h"
#include "support/tmpfs_mount.h"

namespace {

void put(FileSystem& fs, const std::string& path, int flags, const std::string& data, bool sync) {
  const int fd = fs.open(path, O_WRONLY | flags, 0644);
  ASSERT_GE(fd, 0) << path;
  ASSERT_TRUE(fs.write(fd, data.data(), data.size()) && (!sync || fs.syncData(fd)) && fs.close(fd));
}

// On two file systems the same changes, some covered by a barrier; then a cut.
TEST(FaultyFileSystem, ACutKeepsWhatBarriersCoverAndWhatThePolicyKeeps) {
  const std::string kept = "conf=c2 d/ d/f=f data=new made=m moved=r synced=new";
  const std::string lost = "conf=c1 d/ d/f=f data=old removed=x renamed=r synced=new";
  struct Row { const char* policy; bool syncB; std::string a, b; } rows[] = {
      {"kept", false, kept, kept},
      {"lost", false, lost, lost},
      {"data", false, "conf=c2 d/ d/f=f data=old made= moved=r synced=new", "conf=c2 d/ d/f=f data=old made= moved=r synced=new"},
      {"entries", false, "conf=c1 d/ d/f=f data=new removed=x renamed=r synced=new",
       "conf=c1 d/ d/f=f data=new removed=x renamed=r synced=new"},
      {"fs:A", false, lost, kept},
      {"lost", true, lost, kept},  // the file system of b synced whole
  };
  ScratchDir scratch;
  TmpfsMount a(scratch / "a", 1 << 20), b(scratch / "b", 1 << 20);
  if (!a.mounted() || !b.mounted()) GTEST_SKIP() << a.error() << b.error();
  for (const Row& row : rows) {
    InjectedFault cut;
    ASSERT_TRUE(parseFault(replaceAll(std::string("cut 1 ") + row.policy, "A", scratch / "a"), &cut));
    FaultyFileSystem fs(InjectedFault(), -1);
    for (const std::string& dir : {scratch / "a", scratch / "b"}) {
      for (const auto& entry : std::filesystem::directory_iterator(dir)) std::filesystem::remove_all(entry);
      for (const char* file : {"conf=c1", "data=old", "removed=x", "renamed=r", "synced=old"})
        writeFile(dir + "/" + std::string(file, std::strchr(file, '=')), std::strchr(file, '=') + 1);
      std::filesystem::create_directory(dir + "/d");
      put(fs, dir + "/data", O_TRUNC, "new", false);
      put(fs, dir + "/synced", O_TRUNC, "new", true);
      put(fs, dir + "/made", O_CREAT, "m", false);
      put(fs, dir + "/conf.tmp", O_CREAT, "c2", true);
      put(fs, dir + "/d/f", O_CREAT, "f", true);
      ASSERT_TRUE(fs.rename(dir + "/conf.tmp", dir + "/conf") && fs.rename(dir + "/renamed", dir + "/moved") &&
                  fs.unlink(dir + "/removed") && syncDirectory(fs, dir + "/d"));
    }
    ASSERT_TRUE(!row.syncB || fs.syncFileSystem(scratch / "b"));
    fs.losePower(cut.policy, cut.lostPath);
    EXPECT_EQ(tree(scratch / "a"), row.a) << row.policy;
    EXPECT_EQ(tree(scratch / "b"), row.b) << row.policy << (row.syncB ? ", b synced" : "");
  }
}

// Each fault strikes its call once (open, write, write, rename); a short write leaves half, and only a write can be.
TEST(FaultyFileSystem, AFaultStrikesItsCallOnceWithItsError) {
  const std::tuple<const char*, int, int, const char*> rows[] = {
      {"fail 1 EIO", 1, EIO, ""}, {"fail 2 short", 2, ENOSPC, "f=ab"}, {"fail 1 short", 0, 0, "g=abcdefgh"},
      {"fail 3 ENOSPC", 3, ENOSPC, "f=abcd"}, {"fail 4 EROFS", 4, EROFS, "f=abcdefgh"}};
  InjectedFault fault;
  for (const auto& [text, failing, error, left] : rows) {
    ScratchDir scratch;
    ASSERT_TRUE(parseFault(text, &fault));
    FaultyFileSystem fs(fault, -1);
    const int fd = fs.open(scratch / "f", O_WRONLY | O_CREAT, 0644);
    int failed = fd < 0 ? 1 : !fs.write(fd, "abcd", 4) ? 2 : !fs.write(fd, "efgh", 4) ? 3 : 0;
    if (failed == 0 && !(fs.close(fd) && fs.rename(scratch / "f", scratch / "g"))) failed = 4;
    EXPECT_TRUE(failed == failing && (failing == 0 || errno == error)) << text << ": call " << failed << ", " << errno;
    if (failed == 2 || failed == 3) fs.close(fd);
    EXPECT_EQ(tree(scratch.path()), left) << text;
  }
  EXPECT_FALSE(FaultyFileSystem(InjectedFault(), -1).syncFileSystem("/nonexistent"));  // what cannot be opened
  for (const char* refused : {"bogus 1 EIO", "fail 0 EIO", "fail 1 ENOENT", "cut 1 sideways"})
    EXPECT_FALSE(parseFault(refused, &fault)) << refused;
}

}  // namespace
