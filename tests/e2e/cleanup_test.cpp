// installer --cleanup on scratch boards: the scheduled actions and the cleanup
// rule, with the board compared whole afterwards.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/version.h"
#include "pkgfile/package_stream.h"
#include "support/board.h"
#include "support/package_writer.h"

namespace {

const Version k10 = makeVersion(1, 0, 'f', 0);
const Version k321 = makeVersion(3, 21, 'f', 0);
const Version k322 = makeVersion(3, 22, 'f', 0);
const Version k322rc9 = makeVersion(3, 22, 'c', 9);
const Version k323 = makeVersion(3, 23, 'f', 0);

#define SKIP_WITHOUT_BOARD(board) \
  if (!(board).usable()) GTEST_SKIP() << "no scratch board: " << (board).whyUnusable()

Dependency needs(const std::string& name, Version min = 0) {
  Dependency dependency;
  dependency.name = name;
  dependency.min = min;
  return dependency;
}

// An installed package known by its database entry, with one file on flash.
void install(Board& board, const std::string& name, Version version, std::vector<Dependency> deps,
             const char* disabled = nullptr) {
  DatabaseEntry entry;
  entry.name = name;
  entry.version = std::make_pair(version, 1000u);
  entry.deps = std::move(deps);
  entry.files = std::vector<std::string>{"/bin/" + name};
  if (disabled) entry.disabled = disabled;
  ASSERT_TRUE(board.writeDatabaseEntry(entry));
  const std::string file = disabled ? "/flash/x/" + name + "/bin/" + name : "/flash/bin/" + name;
  ASSERT_TRUE(board.write(file, name + "\n"));
}

// What uninstalling `name` takes off the board.
void expectUninstalled(TreeSnapshot& expected, const std::string& name) {
  const std::string entry = "/flash/var/pdb/" + name;
  for (auto it = expected.begin(); it != expected.end();) {
    const bool inEntry = it->first == entry || it->first.compare(0, entry.size() + 1, entry + "/") == 0;
    it = inEntry || it->first == "/flash/bin/" + name ? expected.erase(it) : std::next(it);
  }
}

TEST(CleanupMode, KeepsTheSystemAndWhatARecentSystemNeedsAndUninstallsTheRest) {
  Board board;
  SKIP_WITHOUT_BOARD(board);
  install(board, "system", k323, {});
  install(board, "quarry", k10, {});
  install(board, "tessel-drivers", k10, {});
  install(board, "recent", k10, {needs("system", k322)});
  install(board, "newer", k10, {needs("system", k323)});
  install(board, "prerelease", k10, {needs("system", k322rc9)});
  install(board, "older", k10, {needs("system", k321)});
  install(board, "unrelated", k10, {needs("quarry")});
  install(board, "helper", k10, {});
  install(board, "needs-helper", k10, {needs("system", k322), needs("helper")});
  // A bundle kept by its stored image, with a member that stays.
  const std::string bundleImage = PackageWriter()
                                      .part(kBundleHeaderPart, headerPayload("suite", k10, 1000))
                                      .part(kPackageHeaderPart, headerPayload("suite-core", k10, 1000))
                                      .part(kDependsPart, listPayload({needs("system", k322)}))
                                      .bytes();
  ASSERT_TRUE(board.write("/flash/var/pdb/suite/image", bundleImage));
  TreeSnapshot expected = board.snapshot();

  RunResult run = board.runWithRoot({"--cleanup", "--safe"});

  for (const char* gone : {"prerelease", "older", "unrelated"}) expectUninstalled(expected, gone);
  EXPECT_EQ(diffSnapshots(expected, board.snapshot()), "");
  EXPECT_EQ(run.out, "WARNING: can not uninstall helper-1.0: needs-helper depends on it\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
}

TEST(CleanupMode, CarriesOutScheduledUninstallEnableAndDisable) {
  Board board;
  SKIP_WITHOUT_BOARD(board);
  install(board, "system", k322, {});
  install(board, "gone", k10, {needs("system", k322)});
  install(board, "wanted", k10, {needs("system", k322)}, "auto");
  install(board, "unwanted", k10, {needs("system", k322)});
  install(board, "needed", k10, {needs("system", k322)});
  install(board, "user", k10, {needs("system", k322), needs("needed")});
  ASSERT_TRUE(board.writeSchedule("gone", "uninstall"));
  ASSERT_TRUE(board.writeSchedule("wanted", "enable"));
  ASSERT_TRUE(board.writeSchedule("unwanted", "disable"));
  ASSERT_TRUE(board.writeSchedule("needed", "uninstall"));  // taken back: user needs it
  ASSERT_TRUE(board.writeSchedule("system", "Disable"));    // no schedule word
  TreeSnapshot expected = board.snapshot();

  RunResult run = board.runWithRoot({"--cleanup"});

  expectUninstalled(expected, "gone");
  expected.erase("/flash/var/pdb/wanted/disabled");
  expected["/flash/var/pdb/wanted/enabled"] = fileEntry("user\n", 0600);
  expected["/flash/var/pdb/unwanted/disabled"] = fileEntry("user\n", 0600);
  EXPECT_EQ(diffSnapshots(expected, board.snapshot()), "");
  // The scheduled actions are planned silently before the cleanup rule.
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
}

TEST(CleanupMode, RefusesToTakeAwayEveryPackage) {
  Board board;
  SKIP_WITHOUT_BOARD(board);
  install(board, "tool", k10, {});
  install(board, "lib", k10, {});
  TreeSnapshot expected = board.snapshot();

  RunResult run = board.runWithRoot({"--cleanup"});

  EXPECT_EQ(diffSnapshots(expected, board.snapshot()), "");
  EXPECT_EQ(run.out, "ERROR: can not uninstall or disable all packages\n");
  EXPECT_EQ(run.status, 0);
}

TEST(CleanupMode, QuietRunPrintsNothingAndWritesNoLog) {
  Board board;
  SKIP_WITHOUT_BOARD(board);
  install(board, "system", k322, {});
  install(board, "helper", k10, {});
  install(board, "user", k10, {needs("system", k322), needs("helper")});
  TreeSnapshot expected = board.snapshot();

  RunResult run = board.runWithRoot({"-q", "--cleanup"});

  EXPECT_EQ(diffSnapshots(expected, board.snapshot()), "");
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.status, 0);
}

}  // namespace
