#include "staging/file_copy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>

#include <gtest/gtest.h>

#include "staging/spinner.h"
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

// Copies into a new file at `destination`; the result of copyInto, with errno.
bool copyTo(const std::string& source, const std::string& destination, Spinner* spinner = nullptr) {
  const int fd = ::open(destination.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return false;
  const bool copied = copyInto(source, fd, spinner);
  const int error = errno;
  ::close(fd);
  errno = error;
  return copied;
}

TEST(FileCopy, CopiesEveryByteKeepsTheSourceAndTakesItsMode) {
  ScratchDir scratch;
  // Sizes around the chunk boundary.
  for (size_t size : {size_t(0), size_t(1), size_t(16383), size_t(16384), size_t(16385), size_t(100000)}) {
    std::string content = patternedContent(size);
    ASSERT_TRUE(writeFile(scratch / "src", content));
    ASSERT_EQ(::chmod((scratch / "src").c_str(), 0751), 0);
    EXPECT_TRUE(copyTo(scratch / "src", scratch / "dst")) << size;
    EXPECT_EQ(readFile(scratch / "dst"), content) << size;
    EXPECT_EQ(readFile(scratch / "src"), content) << size;
    EXPECT_EQ(permissions(scratch / "dst"), 0751u) << size;
  }
}

TEST(FileCopy, TakesOneSpinnerStepPerChunk) {
  ScratchDir scratch;
  ASSERT_TRUE(writeFile(scratch / "src", patternedContent(3 * 16384 + 1)));
  CountingClock clock;
  std::ostringstream out;
  Spinner spinner(clock, out);
  ASSERT_TRUE(copyTo(scratch / "src", scratch / "dst", &spinner));
  EXPECT_EQ(out.str(), "|\b/\b-\b\\");
}

TEST(FileCopy, RefusesWhatItCannotCopy) {
  ScratchDir scratch;
  ASSERT_TRUE(writeFile(scratch / "dir/inner", "x"));
  ASSERT_EQ(::mkfifo((scratch / "fifo").c_str(), 0644), 0);
  ScratchDir out;
  TmpfsMount small(out / "small", 64 * 1024);
  if (!small.mounted()) GTEST_SKIP() << small.error();
  ASSERT_TRUE(writeFile(scratch / "big", patternedContent(256 * 1024)));
  const struct {
    std::string source;
    int error;
  } cases[] = {
      {scratch / "missing", ENOENT},
      {scratch / "dir", EISDIR},
      {scratch / "fifo", EINVAL},
      {scratch / "big", ENOSPC},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    errno = 0;
    EXPECT_FALSE(copyTo(c.source, out / "small/file"));
    EXPECT_EQ(errno, c.error);
  }
}

}  // namespace
