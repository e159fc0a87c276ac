#include "pkgtool/tree_walk.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include <gtest/gtest.h>

#include "support/scratch_dir.h"

namespace {

std::vector<std::string> pathsOf(const std::vector<TreeFile>& files) {
  std::vector<std::string> paths;
  for (const TreeFile& file : files) paths.push_back(file.path);
  return paths;
}

TEST(TreeWalk, ListsRegularFilesInByteWisePathOrderWithModeAndSize) {
  ScratchDir dir;
  // "a/z" < "a-b" < "b" < "\xC3..." byte-wise: '/' (0x2F) sorts after '-' (0x2D).
  ASSERT_TRUE(writeFile(dir / "root/b", "bb"));
  ASSERT_TRUE(writeFile(dir / "root/a-b", ""));
  ASSERT_TRUE(writeFile(dir / "root/a/z", "zzz"));
  ASSERT_TRUE(writeFile(dir / "root/\xC3\xA9t\xC3\xA9", "e"));
  ASSERT_TRUE(writeFile(dir / "root/B", "upper"));
  ASSERT_EQ(mkdir((dir / "root/empty").c_str(), 0755), 0);
  ASSERT_EQ(chmod((dir / "root/b").c_str(), 04751), 0);

  std::vector<TreeFile> files;
  std::string error;
  ASSERT_TRUE(walkTree(dir / "root", &files, &error)) << error;
  EXPECT_EQ(pathsOf(files), (std::vector<std::string>{"B", "a-b", "a/z", "b", "\xC3\xA9t\xC3\xA9"}));
  EXPECT_EQ(files[3].mode, static_cast<uint32_t>(S_IFREG | 04751));
  EXPECT_EQ(files[3].size, 2u);
  EXPECT_EQ(files[1].size, 0u);
}

TEST(TreeWalk, RefusesEverythingButRegularFilesAndDirectoriesNamingTheEntry) {
  ScratchDir dir;
  ASSERT_TRUE(writeFile(dir / "link/target", "t"));
  ASSERT_EQ(mkdir((dir / "link/sub").c_str(), 0755), 0);
  ASSERT_EQ(symlink("../target", (dir / "link/sub/alias").c_str()), 0);
  ASSERT_TRUE(writeFile(dir / "fifo/keep", "k"));
  ASSERT_EQ(mkfifo((dir / "fifo/pipe").c_str(), 0644), 0);
  ASSERT_TRUE(writeFile(dir / "sock/keep", "k"));
  int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(sock, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::string socketPath = dir / "sock/s";
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  strcpy(address.sun_path, socketPath.c_str());
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  close(sock);

  struct Case {
    const char* root;
    const char* entry;
    const char* kind;
  } cases[] = {
      {"link", "link/sub/alias", "symbolic link"},
      {"fifo", "fifo/pipe", "named pipe"},
      {"sock", "sock/s", "socket"},
  };
  for (const Case& c : cases) {
    std::vector<TreeFile> files;
    std::string error;
    EXPECT_FALSE(walkTree(dir / c.root, &files, &error)) << c.root;
    EXPECT_NE(error.find(c.entry), std::string::npos) << error;
    EXPECT_NE(error.find(c.kind), std::string::npos) << error;
  }
}

TEST(TreeWalk, RefusesAMissingRootOrAFileAsRoot) {
  ScratchDir dir;
  ASSERT_TRUE(writeFile(dir / "plain", "x"));
  std::vector<TreeFile> files;
  std::string error;
  EXPECT_FALSE(walkTree(dir / "missing", &files, &error));
  EXPECT_NE(error.find("missing"), std::string::npos);
  EXPECT_FALSE(walkTree(dir / "plain", &files, &error));
  EXPECT_NE(error.find("not a directory"), std::string::npos);
}

TEST(TreeWalk, AnEmptyTreeHasNoFiles) {
  ScratchDir dir;
  ASSERT_EQ(mkdir((dir / "root").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((dir / "root/d").c_str(), 0755), 0);
  std::vector<TreeFile> files{TreeFile{"stale", 0, 0}};
  std::string error;
  ASSERT_TRUE(walkTree(dir / "root", &files, &error)) << error;
  EXPECT_TRUE(files.empty());
}

}  // namespace
