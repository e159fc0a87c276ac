// Plain byte order of paths held as a directory and a name.
#include "model/path_set.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

int sign(int order) { return (order > 0) - (order < 0); }

// A path that is a prefix of another comes first; bytes compare unsigned; where the directory ends
// does not matter, only the whole path.
TEST(PathSet, PathsCompareInPlainByteOrderWhereverTheirDirectoryEnds) {
  const struct {
    const char* dir;
    const char* name;
    const char* key;
    int order;
  } rows[] = {
      {"/a/", "b", "/a/b", 0},     {"/a/", "b", "/a/c", -1},    {"/a/", "b", "/a/a", 1},
      {"/a/", "b", "/a/b/c", -1},  {"/a/", "b", "/a/", 1},      {"/a/", "b", "/a", 1},
      {"/a/", "b", "/ab", -1},     {"/a/", "b", "/a b", 1},     {"/a/", "b", "", 1},
      {"/a/", "", "/a/", 0},       {"/a/", "", "/a/b", -1},     {"", "", "", 0},
      {"", "", "/", -1},           {"/x/", "\xff", "/x/a", 1},  {"/\xc3\xa9/", "a", "/z/a", 1},
      {"/b/", "a", "/a/z", 1},     {"/a/", "z", "/b/a", -1},    {"/a/b/", "c", "/a/", 1},
  };
  for (const auto& row : rows)
    EXPECT_EQ(sign(compareSplitPath(row.dir, row.name, row.key)), row.order)
        << row.dir << "|" << row.name << " against " << row.key;
  // Views that point at nothing.
  EXPECT_EQ(compareSplitPath({}, {}, {}), 0);
  EXPECT_EQ(sign(compareSplitPath({}, {}, "/a")), -1);
  EXPECT_EQ(sign(compareSplitPath("/a", {}, {})), 1);
}

TEST(PathSet, HoldsEachPathOnceInPlainByteOrder) {
  PathSet set;
  for (const char* path : {"/ab", "/a/b", "/a", "/a b", "/a/\xff", "/a/b", "/a/b/c", "/a", "/"})
    set.insert(path);
  const std::vector<std::string> paths(set.begin(), set.end());
  EXPECT_EQ(paths, (std::vector<std::string>{"/", "/a", "/a b", "/a/b", "/a/b/c", "/a/\xff", "/ab"}));
  EXPECT_EQ(set.count("/a/b") + set.count("/a/") + set.count("/ab"), 2u);
}

}  // namespace
