#include "apply/file_copy.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>

#include <gtest/gtest.h>

#include "apply/spinner.h"
#include "support/scratch_dir.h"
#include "support/tmpfs_mount.h"

namespace {

class CountingClock : public Clock {
 public:
  uint32_t tick() override { return now += 100; }  // every step may redraw
  uint32_t now = 1000;
};

std::string patternedContent(size_t size) {
  std::string content(size, '\0');
  for (size_t i = 0; i < size; ++i) content[i] = static_cast<char>((i * 131 + i / 7) & 0xFF);
  return content;
}

mode_t permissions(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

int entryCount(const std::string& dirPath) {
  int count = 0;
  DIR* dir = ::opendir(dirPath.c_str());
  if (!dir) return -1;
  while (struct dirent* entry = ::readdir(dir)) count += entry->d_name[0] != '.';
  ::closedir(dir);
  return count;
}

TEST(FileCopy, CopiesEveryByteKeepsTheSourceAndTakesItsMode) {
  ScratchDir scratch;
  // Sizes around the chunk boundary.
  for (size_t size : {size_t(0), size_t(1), size_t(16383), size_t(16384), size_t(16385), size_t(100000)}) {
    std::string content = patternedContent(size);
    ASSERT_TRUE(writeFile(scratch / "src", content));
    ASSERT_EQ(::chmod((scratch / "src").c_str(), 0751), 0);
    ASSERT_TRUE(writeFile(scratch / "dst/file", "old content"));
    EXPECT_TRUE(copyFile(scratch / "src", scratch / "dst/file", nullptr)) << size;
    EXPECT_EQ(readFile(scratch / "dst/file"), content) << size;
    EXPECT_EQ(readFile(scratch / "src"), content) << size;
    EXPECT_EQ(permissions(scratch / "dst/file"), 0751u) << size;
    EXPECT_EQ(entryCount(scratch / "dst"), 1) << "no temporary file stays, size " << size;
  }
}

TEST(FileCopy, TakesOneSpinnerStepPerChunk) {
  ScratchDir scratch;
  ASSERT_TRUE(writeFile(scratch / "src", patternedContent(3 * 16384 + 1)));
  CountingClock clock;
  std::ostringstream out;
  Spinner spinner(clock, out);
  ASSERT_TRUE(copyFile(scratch / "src", scratch / "dst", &spinner));
  EXPECT_EQ(out.str(), "|\b/\b-\b\\");
}

TEST(FileCopy, RefusesWhatItCannotCopyAndLeavesTheDestination) {
  ScratchDir scratch;
  ASSERT_TRUE(writeFile(scratch / "dir/inner", "x"));
  ASSERT_TRUE(writeFile(scratch / "dst", "old"));
  struct Case {
    std::string source;
    std::string destination;
    int error;
  } cases[] = {
      {scratch / "missing", scratch / "dst", ENOENT},
      {scratch / "dir", scratch / "dst", EISDIR},
      {scratch / "dir/inner", scratch / "nodir/dst", ENOENT},
  };
  for (const Case& c : cases) {
    errno = 0;
    EXPECT_FALSE(copyFile(c.source, c.destination, nullptr)) << c.source;
    EXPECT_EQ(errno, c.error) << c.source;
  }
  EXPECT_EQ(readFile(scratch / "dst"), "old");
  EXPECT_FALSE(pathExists(scratch / "nodir"));
}

TEST(FileCopy, AFullDiskLeavesTheOldDestinationAndNoTemporaryFile) {
  ScratchDir scratch;
  TmpfsMount small(scratch / "small", 64 * 1024);
  if (!small.mounted()) GTEST_SKIP() << small.error();
  ASSERT_TRUE(writeFile(scratch / "small/file", "old content"));
  ASSERT_TRUE(writeFile(scratch / "big", patternedContent(256 * 1024)));
  errno = 0;
  EXPECT_FALSE(copyFile(scratch / "big", scratch / "small/file", nullptr));
  EXPECT_EQ(errno, ENOSPC);
  EXPECT_EQ(readFile(scratch / "small/file"), "old content");
  EXPECT_EQ(entryCount(scratch / "small"), 1);
}

}  // namespace
