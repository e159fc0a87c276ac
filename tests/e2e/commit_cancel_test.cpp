// --commit and --cancel of a saved manifest, run inside a scratch board.

#include <gtest/gtest.h>

#include "support/board.h"

namespace {

constexpr char kFrame[] = "finishing install... \b \n";

#define SKIP_WITHOUT_BOARD(board) \
  if (!(board).usable()) GTEST_SKIP() << "no scratch board: " << (board).whyUnusable()

TEST(CommitMode, CopiesAMoveAcrossFileSystemsBehindTheSpinner) {
  Board board;
  SKIP_WITHOUT_BOARD(board);
  if (!board.mountTmpfs("/ram", 1 << 20)) GTEST_SKIP() << board.whyUnusable();
  std::string content(1000, 'c');
  ASSERT_TRUE(board.write("/ram/tmpAAAAAA", content, 0640));
  ASSERT_TRUE(board.write("/flash/etc/conf", "old"));
  ASSERT_TRUE(board.writeManifest({"M /flash/etc/conf /ram/tmpAAAAAA"}));
  TreeSnapshot expected = board.snapshot();

  RunResult run = board.runInside({"--commit"});

  expected["/flash/etc/conf"] = fileEntry(content, 0640);
  expected.erase("/ram/tmpAAAAAA");  // a staged file, copied, is no longer needed
  EXPECT_EQ(diffSnapshots(expected, board.snapshot()), "");
  EXPECT_EQ(run.out, "finishing install... |\b \n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
}

// Placing every file comes before the first change: a copy that does not fit
// leaves the board as it was.
TEST(CommitMode, ACopyThatFillsTheDiskChangesNothing) {
  Board board;
  SKIP_WITHOUT_BOARD(board);
  if (!board.mountTmpfs("/flash/boot", 64 << 10)) GTEST_SKIP() << board.whyUnusable();
  ASSERT_TRUE(board.write("/flash/boot/kernel", "old kernel"));
  ASSERT_TRUE(board.write("/flash/tmpBiGbIg", std::string(256 << 10, 'k')));
  ASSERT_TRUE(board.write("/flash/old", "old"));
  ASSERT_TRUE(board.writeManifest({"M /flash/boot/kernel /flash/tmpBiGbIg", "U /flash/old"}));
  TreeSnapshot expected = board.snapshot();

  RunResult run = board.runInside({"--commit"});

  EXPECT_EQ(diffSnapshots(expected, board.snapshot()), "");
  EXPECT_EQ(run.out, "finishing install... |\b \nERROR: could not commit /flash/boot/kernel: No space left on device: "
                     "nothing was changed\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 28);
}

TEST(CommitMode, WithoutAManifestOnlyPrintsItsFrame) {
  Board board;
  SKIP_WITHOUT_BOARD(board);
  ASSERT_TRUE(board.write("/flash/file", "x"));
  TreeSnapshot before = board.snapshot();
  RunResult run = board.runInside({"--commit"});
  EXPECT_EQ(diffSnapshots(before, board.snapshot()), "");
  EXPECT_EQ(run.out, kFrame);
  EXPECT_EQ(run.status, 0);
}

TEST(CommitMode, ActsWhereItIsMetAndReadsNoLaterWord) {
  struct Case {
    std::vector<std::string> args;
    bool commits;
    std::string out;
  } cases[] = {
      {{"--commit", "--bogus"}, true, kFrame},
      {{"-q", "--commit"}, true, kFrame},
      {{"--commit", "--cancel"}, true, kFrame},
      {{"--bogus", "--commit"}, false, "usage: installer [-q] [-r <root>] [-]\n"},
  };
  for (const Case& c : cases) {
    Board board;
    SKIP_WITHOUT_BOARD(board);
    ASSERT_TRUE(board.write("/flash/file", "x"));
    ASSERT_TRUE(board.writeManifest({"U /flash/file"}));
    RunResult run = board.runInside(c.args);
    EXPECT_EQ(pathExists(board.path("/flash/file")), !c.commits) << c.args[0] << " " << c.args[1];
    EXPECT_TRUE(pathExists(board.path("/ram/MANIFEST"))) << c.args[0] << " " << c.args[1];
    EXPECT_EQ(run.out, c.out) << c.args[0] << " " << c.args[1];
    EXPECT_EQ(run.status, 0);
  }
}

TEST(CancelMode, DeletesTheStagedFilesAndTheManifestAndNothingElse) {
  Board board;
  SKIP_WITHOUT_BOARD(board);
  ASSERT_TRUE(board.write("/flash/tmpAAAAAA", "staged on flash"));
  ASSERT_TRUE(board.write("/ram/tmpBBBBBB", "staged on the RAM disk"));
  ASSERT_TRUE(board.write("/flash/var/pdb/tmpCCCCCC", "1 2\n"));
  ASSERT_TRUE(board.write("/flash/rw/pckg/p.vpa", "package"));
  ASSERT_TRUE(board.write("/flash/rw/tmpDDDDDD", "not in the manifest"));
  ASSERT_TRUE(board.write("/flash/old", "old"));
  ASSERT_TRUE(board.write("/flash/lib/a.so", "current"));
  ASSERT_TRUE(board.writeManifest({
      "M /flash/lib/a.so /flash/tmpAAAAAA",
      "U /flash/old",
      "M /flash/var/pdb/p/image /flash/rw/pckg/p.vpa",
      "M /flash/var/pdb/p/version /flash/var/pdb/tmpCCCCCC",
      "M /flash/x /ram/tmpBBBBBB",
  }));
  TreeSnapshot expected = board.snapshot();

  RunResult run = board.runInside({"--cancel"});

  for (const char* gone : {"/flash/tmpAAAAAA", "/ram/tmpBBBBBB", "/flash/var/pdb/tmpCCCCCC", "/ram/MANIFEST"})
    expected.erase(gone);
  EXPECT_EQ(diffSnapshots(expected, board.snapshot()), "");
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
}

TEST(CancelMode, DeletesTheManifestOfTheTreeItStartedInWhateverTheRoot) {
  Board board;
  SKIP_WITHOUT_BOARD(board);
  ASSERT_TRUE(board.writeManifest({"U /flash/x"}));
  ASSERT_TRUE(board.write("/sub/ram/MANIFEST", "U /flash/x\n"));
  TreeSnapshot expected = board.snapshot();
  RunResult run = board.runInside({"-r", "/sub", "--cancel"});
  expected.erase("/ram/MANIFEST");
  EXPECT_EQ(diffSnapshots(expected, board.snapshot()), "");
  EXPECT_EQ(run.status, 0);
}

TEST(CancelMode, WithoutAManifestChangesNothing) {
  Board board;
  SKIP_WITHOUT_BOARD(board);
  ASSERT_TRUE(board.write("/flash/tmpAAAAAA", "x"));
  TreeSnapshot before = board.snapshot();
  RunResult run = board.runInside({"--cancel"});
  EXPECT_EQ(diffSnapshots(before, board.snapshot()), "");
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.status, 0);
}

}  // namespace
