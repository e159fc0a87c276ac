// The command line of the real binary: the usage line, --reinstall's lines,
// the root and the exit statuses, on a scratch board.

#include <gtest/gtest.h>

#include "support/board.h"

namespace {

#define SKIP_WITHOUT_BOARD(board) \
  if (!(board).usable()) GTEST_SKIP() << "no scratch board: " << (board).whyUnusable()

std::string joined(const std::vector<std::string>& args) {
  std::string text;
  for (const std::string& arg : args) text += "'" + arg + "' ";
  return text;
}

TEST(CommandLineRun, WordsThatAreNoOptionPrintOnlyTheUsageLine) {
  std::vector<std::vector<std::string>> cases = {
      {"--bogus"}, {"-r"}, {"-q", "-r"}, {"--Commit"}, {""}, {"--show", "extra"}, {"--reinstal"},
  };
  for (const auto& args : cases) {
    Board board;
    SKIP_WITHOUT_BOARD(board);
    ASSERT_TRUE(board.writeManifest({"U /flash/x"}));
    TreeSnapshot before = board.snapshot();
    RunResult run = board.runInside(args);
    EXPECT_EQ(run.out, "usage: installer [-q] [-r <root>] [-]\n") << joined(args);
    EXPECT_EQ(run.err, "") << joined(args);
    EXPECT_EQ(run.status, 0) << joined(args);
    EXPECT_EQ(diffSnapshots(before, board.snapshot()), "") << joined(args);
  }
}

TEST(CommandLineRun, ReinstallPrintsItsTwoLinesEachTime) {
  Board board;
  SKIP_WITHOUT_BOARD(board);
  RunResult run = board.runWithRoot({"--reinstall", "--reinstall"});
  // Then the upgrade, which finds no package on the empty board.
  EXPECT_EQ(run.out, "\nResuming upgrade...\n\nResuming upgrade...\nERROR: router installation failed!!!\n");
  EXPECT_EQ(run.status, 0);
}

TEST(CommandLineRun, ARootThatCannotBeEnteredEndsWithStatusOneAndChangesNothing) {
  Board board;
  SKIP_WITHOUT_BOARD(board);
  ASSERT_TRUE(board.write("/flash/tmpAAAAAA", "staged"));
  ASSERT_TRUE(board.writeManifest({"M /flash/a /flash/tmpAAAAAA"}));
  ASSERT_TRUE(board.write("/flash/plain", "not a directory"));
  TreeSnapshot before = board.snapshot();
  struct Case {
    std::string root;
    std::string error;
  } cases[] = {
      {"/missing", "chroot: No such file or directory\n"},
      {"/flash/plain", "chroot: Not a directory\n"},
  };
  for (const Case& c : cases) {
    RunResult run = board.runInside({"-q", "-r", c.root, "--safe"});
    EXPECT_EQ(run.status, 1) << c.root;
    EXPECT_EQ(run.err, c.error) << c.root;
    EXPECT_EQ(run.out, "") << c.root;
  }
  RunResult fromHost = board.runWithRoot({"-r", board.path("/missing")});
  EXPECT_EQ(fromHost.status, 1);
  EXPECT_EQ(fromHost.err, "chroot: No such file or directory\n");
  EXPECT_EQ(diffSnapshots(before, board.snapshot()), "");
}

TEST(CommandLineRun, RunsOnAnEmptyBoardEndWithZeroAndChangeNothingButTheLog) {
  const std::string failed = "ERROR: router installation failed!!!\n";
  struct Case {
    std::vector<std::string> args;
    std::string log;  // an upgrade finds no package and says so, unless quiet
  } cases[] = {
      {{}, failed},
      {{"--show"}, ""},
      {{"--cleanup"}, ""},
      {{"--safe"}, failed},
      {{"-q", "-down", "-b", "--force", "--noupgrade", "-i"}, ""},
  };
  for (const auto& [args, log] : cases) {
    Board board;
    SKIP_WITHOUT_BOARD(board);
    TreeSnapshot before = board.snapshot();
    if (!log.empty()) before["/flash/postlog"] = fileEntry(log, 0644);
    RunResult run = board.runWithRoot(args);
    EXPECT_EQ(run.status, 0) << joined(args);
    EXPECT_EQ(run.err, "") << joined(args);
    EXPECT_EQ(diffSnapshots(before, board.snapshot()), "") << joined(args);
  }
}

}  // namespace
