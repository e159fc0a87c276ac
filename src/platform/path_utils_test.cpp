#include "platform/path_utils.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "support/scratch_dir.h"

namespace {

bool isDirectory(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

TEST(PathUtils, ParentDirFollowsDirnameAfterStrippingTrailingSlashes) {
  struct Case {
    const char* path;
    const char* parent;
  } cases[] = {
      {"/flash/var/pdb/x/", "/flash/var/pdb"},
      {"/flash/var/pdb/x", "/flash/var/pdb"},
      {"/flash", "/"},
      {"/flash///", "/"},
      {"image", "."},
      {"/", "."},
      {"///", "."},
      {"", "."},
      {"a/b", "a"},
      {"/a//b", "/a"},
      {"//a", "/"},
      {"/flash/var/pdb//image", "/flash/var/pdb"},
  };
  for (const Case& c : cases) EXPECT_EQ(parentDir(c.path), c.parent) << "path \"" << c.path << "\"";
}

TEST(PathUtils, MakeDirsCreatesEveryMissingAncestor) {
  ScratchDir scratch;
  makeDirs(scratch / "a/b/c/d");
  EXPECT_TRUE(isDirectory(scratch / "a/b/c/d"));
  // An existing directory is no failure and keeps its content.
  ASSERT_TRUE(writeFile(scratch / "a/b/file", "x"));
  makeDirs(scratch / "a/b");
  EXPECT_EQ(readFile(scratch / "a/b/file"), "x");
}

TEST(PathUtils, MakeDirsBelowAFileMakesNothing) {
  ScratchDir scratch;
  ASSERT_TRUE(writeFile(scratch / "plain", "x"));
  makeDirs(scratch / "plain/sub/dir");
  EXPECT_FALSE(pathExists(scratch / "plain/sub"));
  EXPECT_EQ(readFile(scratch / "plain"), "x");
}

}  // namespace
