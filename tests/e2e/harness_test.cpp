// The harness itself: a snapshot difference must name every kind of change,
// or the end-to-end comparisons could pass over one.

#include <gtest/gtest.h>

#include "support/tree_snapshot.h"

namespace {

TEST(TreeSnapshotDiff, NamesEveryKindOfDifference) {
  TreeSnapshot expected = {
      {"/gone", fileEntry("a")},        {"/content", fileEntry("old")}, {"/mode", fileEntry("m", 0644)},
      {"/type", fileEntry("t")},        {"/link", linkEntry("one")},    {"/same", directoryEntry()},
  };
  TreeSnapshot actual = {
      {"/content", fileEntry("new")}, {"/mode", fileEntry("m", 0600)}, {"/type", linkEntry("t")},
      {"/link", linkEntry("two")},    {"/same", directoryEntry()},     {"/added", directoryEntry(0700)},
  };
  EXPECT_EQ(diffSnapshots(expected, expected), "");
  EXPECT_EQ(diffSnapshots(expected, actual),
            "/added: unexpected directory 0700\n"
            "/content: expected file 0644, 3 bytes \"old\"\n"
            "          but is file 0644, 3 bytes \"new\"\n"
            "/gone: missing, expected file 0644, 1 bytes \"a\"\n"
            "/link: expected link to \"one\"\n"
            "       but is link to \"two\"\n"
            "/mode: expected file 0644, 1 bytes \"m\"\n"
            "       but is file 0600, 1 bytes \"m\"\n"
            "/type: expected file 0644, 1 bytes \"t\"\n"
            "       but is link to \"t\"\n");
}

}  // namespace
