// Which directories a way up from a missing directory proves missing too.
#include "platform/path_utils.h"

#include <utility>

#include <gtest/gtest.h>

namespace {

TEST(PathUtils, ADirectoryBelowOneFoundMissingIsMissing) {
  const struct {
    const char* dir;
    const char* start;
    const char* home;
    bool missing;
  } rows[] = {
      {"/flash/usr/lib", "/flash/usr/bin", "/flash", true},       // they share /flash/usr, found missing
      {"/flash/usr", "/flash/usr/bin", "/flash", true},
      {"/flash/usr/bin/x/y", "/flash/usr/bin", "/flash", true},
      {"/flash/var", "/flash/usr/bin", "/flash", false},          // they share only the home
      {"/flash", "/flash/usr/bin", "/flash", false},
      {"/flash/us", "/flash/usr/bin", "/flash", false},           // a name that begins alike is another
      {"/flash/usr2/a", "/flash/usr/bin", "/flash", false},
      {"/flashy/usr", "/flash/usr/bin", "/flash", false},
      {"/a/c", "/a/b", "/", true},                                // every directory below the root
      {"/x", "/a/b", "/", false},
      {"/flash/usr/lib", "/flash/usr", "/flash/usr", false},      // the way found its start
      {"/flash/usr/lib", "", "", false},                          // no way yet
      {"/flash/usr/lib", "/flash/usr/bin", "/other", false},      // a home that is no ancestor
  };
  for (const auto& row : rows)
    EXPECT_EQ(missingBelow(row.dir, row.start, row.home), row.missing) << row.dir << " from " << row.start;
}

// Trailing slashes name the same directory; a path without a directory part is in ".".
TEST(PathUtils, TheParentOfAPathDropsItsLastNameAndTheSlashesBeforeIt) {
  const std::pair<const char*, const char*> rows[] = {
      {"/flash/usr/lib", "/flash/usr"}, {"/flash/usr/lib/", "/flash/usr"}, {"/flash//usr//lib//", "/flash//usr"},
      {"/flash", "/"}, {"//flash", "/"}, {"/", "."}, {"///", "."}, {"", "."}, {"name", "."}, {"name/", "."},
      {"dir/name", "dir"}, {"a/b/c", "a/b"}, {"/a b/c\\d", "/a b"}};
  for (const auto& [path, parent] : rows) EXPECT_EQ(parentDir(path), parent) << path;
}

}  // namespace
