// The board that records: it answers as the changed board would, and nothing on disk changes.
#include "platform/recording_file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>

#include <gtest/gtest.h>

#include "support/scratch_dir.h"
#include "support/tmpfs_mount.h"

namespace {

PosixFileSystem posixFs;

// On a tmpfs of 16 pages: a removal gives back the pages, a new file takes them, a write past the free space
// fails, a rename to another file system too; listings and the list of changes tell the recorded tree.
TEST(RecordingFileSystem, AnswersAsTheChangedBoardWouldAndWritesNothing) {
  ::umask(022);
  ScratchDir scratch;
  TmpfsMount flash(scratch.path() + "/flash", 16 * 4096);
  if (!flash.mounted()) GTEST_SKIP() << flash.error();
  writeFile(scratch.path() + "/flash/old", std::string(3 * 4096, 'o'));
  writeFile(scratch.path() + "/ram/kept", "k");
  RecordingFileSystem fs(posixFs, scratch.path());
  struct statfs before, after;
  ASSERT_TRUE(fs.freeSpace("/flash", &before));
  const std::string page(4096, 'n');
  int fd = fs.open("/flash/new", O_WRONLY | O_CREAT | O_EXCL, 0640);
  EXPECT_TRUE(fs.write(fd, page.data(), page.size()) && fs.write(fd, "n", 1) && fs.close(fd));
  EXPECT_TRUE(fs.unlink("/flash/old") && fs.makeDirectory("/flash/d", 0755) && fs.symlink("/ram/kept", "/flash/d/l"));
  EXPECT_TRUE(fs.rename("/flash/new", "/flash//d/new/") && fs.freeSpace("/flash/d", &after));
  EXPECT_EQ(after.f_bfree, before.f_bfree + 1);
  EXPECT_TRUE(!fs.rename("/ram/kept", "/flash/kept") && errno == EXDEV);
  fd = fs.open("/flash/big", O_WRONLY | O_CREAT, 0600);
  const std::string more((before.f_bfree + 2) * 4096, 'b');
  EXPECT_TRUE(!fs.write(fd, more.data(), more.size()) && errno == ENOSPC);
  EXPECT_TRUE(!fs.truncate(fd, -1) && errno == EINVAL && !fs.truncate(-1, 0) && errno == EBADF);
  EXPECT_TRUE(fs.unlink("/flash/big") && fs.close(fd));
  char read[4100] = "x";  // a recorded file has no content: zeros of its size
  EXPECT_TRUE(fs.read(fd = fs.open("/flash/d/new", O_RDONLY, 0), read, sizeof read) == 4097 && !read[0] && fs.close(fd));
  std::vector<DirectoryEntry> names;
  EXPECT_TRUE(fs.listDirectory("/flash/d", &names) && names.size() == 2 && names[0].name == "l" && names[1].type == DT_REG);
  rlimit files, noFile{0, 0};  // a directory the board cannot open for want of a descriptor is no empty one
  ::getrlimit(RLIMIT_NOFILE, &files), noFile.rlim_max = files.rlim_max, ::setrlimit(RLIMIT_NOFILE, &noFile);
  const int error = fs.listDirectory("/ram", &names) ? 0 : errno;
  EXPECT_TRUE(::setrlimit(RLIMIT_NOFILE, &files) == 0 && error == EMFILE);
  std::string told;
  for (const RecordedChange& change : fs.changes())
    told += change.op + change.path + " " + std::to_string(change.mode & 0777) + " " + std::to_string(change.size) + ";";
  EXPECT_EQ(told, "+/flash/d 493 0;+/flash/d/l 511 9;+/flash/d/new 416 4097;-/flash/old 420 12288;");
  EXPECT_TRUE(std::filesystem::exists(scratch.path() + "/flash/old") && !std::filesystem::exists(scratch.path() + "/flash/d"));
}

}  // namespace
