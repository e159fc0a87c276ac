#include "platform/regular_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "support/scratch_dir.h"

namespace {

// What stands where a file is expected: only a regular file (or a link to
// one) is opened, and nothing else makes the open wait.
TEST(RegularFile, OnlyARegularFileIsOpenedAndNothingElseBlocks) {
  ScratchDir scratch;
  ASSERT_TRUE(writeFile(scratch / "file", "content"));
  ASSERT_EQ(::mkfifo((scratch / "fifo").c_str(), 0644), 0);
  ASSERT_EQ(::mkdir((scratch / "dir").c_str(), 0755), 0);
  ASSERT_EQ(::symlink("file", (scratch / "link").c_str()), 0);
  ASSERT_EQ(::symlink("fifo", (scratch / "fifo-link").c_str()), 0);
  const struct {
    const char* name;
    bool regular;
    int readError;
  } cases[] = {
      {"file", true, 0},        {"link", true, 0},       {"fifo", false, EINVAL}, {"fifo-link", false, EINVAL},
      {"dir", false, EISDIR},   {"missing", false, ENOENT}, {"/dev/null", false, EINVAL},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = c.name[0] == '/' ? c.name : scratch / c.name;
    EXPECT_EQ(isRegularFile(path), c.regular);
    for (int flags : {O_RDONLY, O_WRONLY | O_CREAT}) {
      errno = 0;
      const int fd = openRegularFile(path, flags);
      if (c.regular || (c.readError == ENOENT && (flags & O_CREAT))) {
        EXPECT_GE(fd, 0);
        EXPECT_EQ(::fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
        ::close(fd);
        continue;
      }
      EXPECT_EQ(fd, -1);
      // A pipe without a reader refuses a writer at once.
      if (!(flags & O_CREAT) || c.readError != EINVAL || std::string(c.name).find("fifo") == std::string::npos) {
        EXPECT_EQ(errno, c.readError);
      }
    }
  }
}

}  // namespace
