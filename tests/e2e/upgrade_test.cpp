// The upgrade run on a board whose processor class depends on where the tests
// run (the other upgrade runs are scenarios in tests/scenarios/upgrade.scn).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/board.h"
#include "support/package_writer.h"
#include "support/packaging_tool.h"

namespace {

#define SKIP_WITHOUT_BOARD(board) \
  if (!(board).usable()) GTEST_SKIP() << "no scratch board: " << (board).whyUnusable()

// Builds the package into the board's first package directory.
void offer(Board& board, const PackageRecipe& recipe) {
  std::string messages;
  ASSERT_TRUE(buildPackageFile(recipe, board.path("/flash/rw/pckg/" + recipe.name + "-" + recipe.version + ".vpa"), &messages))
      << messages;
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

}  // namespace
