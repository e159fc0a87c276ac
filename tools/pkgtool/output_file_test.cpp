#include "pkgtool/output_file.h"

#include <dirent.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "support/scratch_dir.h"

namespace {

std::vector<std::string> entriesOf(const std::string& directory) {
  std::vector<std::string> names;
  DIR* dir = opendir(directory.c_str());
  if (dir == nullptr) return names;
  while (dirent* entry = readdir(dir))
    if (entry->d_name[0] != '.') names.push_back(entry->d_name);
  closedir(dir);
  return names;
}

TEST(OutputFile, AppearsOnlyAtCommitWithPatchedBytes) {
  ScratchDir dir;
  OutputFile out;
  std::string error;
  ASSERT_TRUE(out.open(dir / "out.vpa", &error)) << error;
  ASSERT_TRUE(out.write("hello world", 11, &error)) << error;
  ASSERT_TRUE(out.writeAt(6, "WORLD", 5, &error)) << error;
  EXPECT_EQ(out.size(), 11u);
  EXPECT_FALSE(pathExists(dir / "out.vpa"));
  char back[5];
  ASSERT_TRUE(out.readAt(0, back, 5, &error)) << error;
  EXPECT_EQ(std::string(back, 5), "hello");
  EXPECT_FALSE(out.readAt(8, back, 5, &error));  // past the end
  ASSERT_TRUE(out.commit(&error)) << error;
  EXPECT_EQ(readFile(dir / "out.vpa"), "hello WORLD");
  EXPECT_EQ(entriesOf(dir.path()), std::vector<std::string>{"out.vpa"});
}

TEST(OutputFile, AnAbandonedFileLeavesNothingAndKeepsAnOldFile) {
  ScratchDir dir;
  ASSERT_TRUE(writeFile(dir / "out.vpa", "old"));
  {
    OutputFile out;
    std::string error;
    ASSERT_TRUE(out.open(dir / "out.vpa", &error)) << error;
    ASSERT_TRUE(out.write("partial", 7, &error)) << error;
  }
  EXPECT_EQ(readFile(dir / "out.vpa"), "old");
  EXPECT_EQ(entriesOf(dir.path()), std::vector<std::string>{"out.vpa"});
}

TEST(OutputFile, CommittedFileGetsTheModeTheUmaskAllows) {
  ScratchDir dir;
  mode_t old = umask(027);
  OutputFile out;
  std::string error;
  bool ok = out.open(dir / "out.vpa", &error) && out.write("x", 1, &error) && out.commit(&error);
  umask(old);
  ASSERT_TRUE(ok) << error;
  struct stat st;
  ASSERT_EQ(stat((dir / "out.vpa").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(OutputFile, OpeningInAMissingDirectoryNamesTheFile) {
  ScratchDir dir;
  OutputFile out;
  std::string error;
  EXPECT_FALSE(out.open(dir / "no/such/out.vpa", &error));
  EXPECT_NE(error.find("no/such/out.vpa"), std::string::npos) << error;
}

}  // namespace
