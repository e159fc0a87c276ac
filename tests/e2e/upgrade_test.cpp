// The upgrade run on scratch boards: the package files of the package
// directories installed in dependency order, committed at once or saved for
// later, with the board compared whole afterwards.

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/board.h"
#include "support/package_writer.h"
#include "support/packaging_tool.h"
#include "support/scratch_dir.h"
#include "support/signed_package.h"

namespace {

#define SKIP_WITHOUT_BOARD(board) \
  if (!(board).usable()) GTEST_SKIP() << "no scratch board: " << (board).whyUnusable()

// Builds the package into the board's first package directory.
void offer(Board& board, const PackageRecipe& recipe, const std::string& directory = "/flash/rw/pckg/") {
  std::string messages;
  ASSERT_TRUE(buildPackageFile(recipe, board.path(directory + recipe.name + "-" + recipe.version + ".vpa"), &messages))
      << messages;
}

TEST(UpgradeMode, ANewerVersionReplacesTheInstalledOneAndItsFiles) {
  Board board;
  SKIP_WITHOUT_BOARD(board);
  offer(board, {"tool", "1.0", {{"bin/tool", "one"}, {"etc/tool.old", "old"}}, {}});
  ASSERT_EQ(board.runWithRoot({}).status, 0);
  offer(board, {"tool", "1.1", {{"bin/tool", "one point one"}}, {}});

  RunResult run = board.runWithRoot({});

  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("installed tool-1.1\n"), std::string::npos) << run.out;
  TreeSnapshot after = board.snapshot();
  EXPECT_EQ(after["/flash/bin/tool"], fileEntry("one point one", 0755));
  EXPECT_EQ(after.count("/flash/etc/tool.old"), 0u);
  EXPECT_EQ(after["/flash/var/pdb/tool/files"], fileEntry("bin/tool\n", 0600));
  // Both runs' messages, the first run's read back and rewritten before the
  // second's.
  EXPECT_EQ(after["/flash/postlog"].data,
            "installed tool-1.0\nWARNING: omitting package tool-1.0: newer package is already provided\n"
            "installed tool-1.1\n");
}

TEST(UpgradeMode, TheDowngradeMarkerAllowsAnOlderVersionOnceAndIsGone) {
  Board board;
  SKIP_WITHOUT_BOARD(board);
  offer(board, {"tool", "2.0", {{"bin/tool", "two"}}, {}});
  ASSERT_EQ(board.runWithRoot({}).status, 0);
  ASSERT_EQ(::unlink(board.path("/flash/rw/pckg/tool-2.0.vpa").c_str()), 0);
  offer(board, {"tool", "1.0", {{"bin/tool", "one"}}, {}});

  RunResult refused = board.runWithRoot({});
  EXPECT_EQ(board.snapshot()["/flash/bin/tool"].data, "two") << refused.out;

  ASSERT_TRUE(board.write("/rw/DOWNGRADE", ""));
  RunResult downgraded = board.runWithRoot({});

  EXPECT_EQ(downgraded.status, 0);
  TreeSnapshot after = board.snapshot();
  EXPECT_EQ(after["/flash/bin/tool"].data, "one") << downgraded.out;
  EXPECT_EQ(after.count("/rw/DOWNGRADE"), 0u);
}

TEST(UpgradeMode, OnlyTheFirstPackageDirectoryWithPackagesIsUsed) {
  Board board;
  SKIP_WITHOUT_BOARD(board);
  offer(board, {"first", "1.0", {{"bin/first", "1"}}, {}}, "/flash/rw/pckg/");
  offer(board, {"second", "1.0", {{"bin/second", "2"}}, {}}, "/flash/var/pckg/");

  ASSERT_EQ(board.runWithRoot({}).status, 0);
  TreeSnapshot after = board.snapshot();
  EXPECT_EQ(after.count("/flash/bin/first"), 1u);
  EXPECT_EQ(after.count("/flash/bin/second"), 0u);

  ASSERT_EQ(::unlink(board.path("/flash/rw/pckg/first-1.0.vpa").c_str()), 0);
  ASSERT_EQ(board.runWithRoot({}).status, 0);
  EXPECT_EQ(board.snapshot().count("/flash/bin/second"), 1u);
}

TEST(UpgradeMode, AnEmptyBoardWithNothingToInstallIsReportedAsAFailedInstallation) {
  Board board;
  SKIP_WITHOUT_BOARD(board);
  RunResult run = board.runWithRoot({});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "ERROR: router installation failed!!!\n");
  EXPECT_EQ(board.snapshot()["/flash/postlog"].data, "ERROR: router installation failed!!!\n");
}

TEST(UpgradeMode, APackageKeptAsAStoredImageMovesIntoItsDatabaseEntry) {
  Board board;
  SKIP_WITHOUT_BOARD(board);
  offer(board, {"suite", "3.0", {{"bin/suite", "suite"}}, {"--image"}});
  const std::string packageFile = readFile(board.path("/flash/rw/pckg/suite-3.0.vpa"));

  ASSERT_EQ(board.runWithRoot({}).status, 0);

  TreeSnapshot after = board.snapshot();
  EXPECT_EQ(after.count("/flash/rw/pckg/suite-3.0.vpa"), 0u);
  EXPECT_EQ(after["/flash/var/pdb/suite/image"].data, packageFile);
  EXPECT_EQ(after["/flash/bin/suite"].data, "suite");
  RunResult show = board.runWithRoot({"--show"});
  EXPECT_NE(show.out.find("suite"), std::string::npos) << show.out;
}

// The processor classes of the file records this board takes: every board
// takes class 0; the emulated board runs with its class in the environment,
// this machine's stand-in register has none.
std::vector<int> classesForThisBoard() {
  const char* expected = std::getenv("INSTALLER_EXPECTED_PROCESSOR_CLASS");
  if (!expected || std::string(expected) == "none" || std::string(expected).empty()) return {0};
  return {0, std::atoi(expected)};
}

TEST(UpgradeMode, InstallsOnlyTheFileRecordsMeantForThisBoardsProcessor) {
  Board board;
  SKIP_WITHOUT_BOARD(board);
  PackageRecipe recipe{"drivers", "1.0", {}, {}};
  for (int c = 0; c <= 4; ++c) {
    const std::string path = "lib/class" + std::to_string(c);
    recipe.files.push_back({path, "for class " + std::to_string(c)});
    if (c != 0) recipe.options.insert(recipe.options.end(), {"--class", path + "=" + std::to_string(c)});
  }
  offer(board, recipe);

  RunResult run = board.runWithRoot({});

  ASSERT_EQ(run.status, 0) << run.out;
  const std::vector<int> wanted = classesForThisBoard();
  TreeSnapshot after = board.snapshot();
  std::string recorded;
  for (int c = 0; c <= 4; ++c) {
    const std::string path = "/lib/class" + std::to_string(c);
    const bool installs = std::find(wanted.begin(), wanted.end(), c) != wanted.end();
    EXPECT_EQ(after.count("/flash" + path), installs ? 1u : 0u) << "class " << c;
    if (installs) recorded += path.substr(1) + "\n";
  }
  EXPECT_EQ(after["/flash/var/pdb/drivers/files"].data, recorded);
}

// A bundle of members built from the recipes, into the board's first package
// directory; startDisabled names members that start disabled.
void offerBundle(Board& board, const std::string& name, const std::string& version,
                 const std::vector<PackageRecipe>& members, const std::vector<std::string>& startDisabled) {
  ScratchDir scratch;
  std::vector<std::string> words{"bundle", "--key", developmentKeyPath(), "--name", name, "--version", version,
                                 "--build-time", std::to_string(kTestBuildTime)};
  for (const std::string& member : startDisabled) words.insert(words.end(), {"--start-disabled", member});
  words.insert(words.end(), {"-o", board.path("/flash/rw/pckg/" + name + "-" + version + ".vpa")});
  for (const PackageRecipe& member : members) {
    std::string messages;
    ASSERT_TRUE(buildPackageFile(member, scratch / (member.name + ".vpa"), &messages)) << messages;
    words.push_back(scratch / (member.name + ".vpa"));
  }
  std::string messages;
  ASSERT_TRUE(runPackagingTool(words, &messages)) << messages;
}

TEST(UpgradeMode, ABundleInstallsItsMembersAndItsNextVersionUninstallsTheMemberItDropped) {
  Board board;
  SKIP_WITHOUT_BOARD(board);
  const PackageRecipe bgp{"bgp", "6.41", {{"bin/bgpd", "bgp"}}, {}};
  const PackageRecipe ospf{"ospf", "6.41", {{"bin/ospfd", "ospf"}}, {}};
  const PackageRecipe rip{"rip", "6.41", {{"bin/ripd", "rip"}}, {}};
  offerBundle(board, "routing", "6.41", {bgp, ospf, rip}, {"bgp"});

  RunResult first = board.runWithRoot({});

  EXPECT_EQ(first.status, 0);
  EXPECT_NE(first.out.find("installed routing-6.41\n"), std::string::npos) << first.out;
  TreeSnapshot after = board.snapshot();
  EXPECT_EQ(after["/flash/bin/ospfd"].data, "ospf");
  EXPECT_EQ(after["/flash/bin/ripd"].data, "rip");
  EXPECT_EQ(after["/flash/x/bgp/bin/bgpd"].data, "bgp");  // started disabled
  EXPECT_EQ(after["/flash/var/pdb/bgp/disabled"].data, "auto\n");
  EXPECT_EQ(after["/flash/var/pdb/ospf/bundle"].data, after["/flash/var/pdb/rip/bundle"].data);
  EXPECT_EQ(after.count("/flash/rw/pckg/routing-6.41.vpa"), 0u);  // kept as the stored image
  EXPECT_EQ(after.count("/flash/var/pdb/routing/image"), 1u);

  offerBundle(board, "routing", "6.42", {{"ospf", "6.42", {{"bin/ospfd", "ospf 6.42"}}, {}}, bgp}, {"bgp"});
  RunResult second = board.runWithRoot({});

  EXPECT_EQ(second.status, 0);
  EXPECT_NE(second.out.find("installed routing-6.42\n"), std::string::npos) << second.out;
  after = board.snapshot();
  EXPECT_EQ(after["/flash/bin/ospfd"].data, "ospf 6.42");
  EXPECT_EQ(after.count("/flash/bin/ripd"), 0u);
  EXPECT_EQ(after.count("/flash/var/pdb/rip"), 0u);
  EXPECT_EQ(after["/flash/x/bgp/bin/bgpd"].data, "bgp");
  RunResult show = board.runWithRoot({"--show"});
  EXPECT_NE(show.out.find("routing             6.42"), std::string::npos) << show.out;
  EXPECT_EQ(show.out.find(" rip "), std::string::npos) << show.out;
}

}  // namespace
