// Image mode on scratch boards: one package or bundle read from standard
// input, installed and kept whole as its stored image.

#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "support/board.h"
#include "support/packaging_tool.h"
#include "support/scratch_dir.h"

namespace {

#define SKIP_WITHOUT_BOARD(board) \
  if (!(board).usable()) GTEST_SKIP() << "no scratch board: " << (board).whyUnusable()

// The bytes of a package built from the recipe.
std::string packageBytes(const PackageRecipe& recipe) {
  ScratchDir scratch;
  std::string messages;
  EXPECT_TRUE(buildPackageFile(recipe, scratch / "package.vpa", &messages)) << messages;
  return readFile(scratch / "package.vpa");
}

RunInput fromStandardInput(const std::string& bytes) {
  RunInput input;
  input.standardInput = bytes;
  return input;
}

TEST(ImageMode, AnImageFileThatCannotBeCreatedEndsTheRunAtOnceWhateverQuietSays) {
  Board board;
  SKIP_WITHOUT_BOARD(board);
  ASSERT_EQ(::rmdir(board.path("/flash/var/pdb").c_str()), 0);
  const TreeSnapshot before = board.snapshot();

  RunResult run = board.runWithRoot({"-q", "-"}, fromStandardInput("x"));

  EXPECT_EQ(run.out, "ERROR: could not open image\n");
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(diffSnapshots(before, board.snapshot()), "");
}

TEST(ImageMode, AnImageCutShortByAFullDiskIsNeverKeptAndNothingIsInstalled) {
  Board board;
  SKIP_WITHOUT_BOARD(board);
  if (!board.mountTmpfs("/flash/var/pdb", 32 << 10)) GTEST_SKIP() << board.whyUnusable();
  // The package is far larger than the disk.
  const std::string image =
      packageBytes({"system", "6.41", {{"lib/blob", incompressibleBytes(200 << 10)}}, {"--image"}});
  const TreeSnapshot before = board.snapshot();

  RunResult run = board.runWithRoot({"-"}, fromStandardInput(image));

  EXPECT_EQ(run.status, 255);
  EXPECT_NE(run.out.find("ERROR: could not write image\n"), std::string::npos) << run.out;
  TreeSnapshot after = board.snapshot();
  after.erase("/flash/postlog");
  EXPECT_EQ(diffSnapshots(before, after), "");
}

TEST(ImageMode, TheBootImageGoesToItsPlaceWithALinkAndInstallsNoFiles) {
  Board board;
  SKIP_WITHOUT_BOARD(board);
  const std::string image = packageBytes({"kernel", "6.41", {{"boot/vmlinux", "kernel"}}, {"--image", "--boot-image"}});
  RunInput input = fromStandardInput(image);
  input.setEnvironment.push_back({"bootimage", "1"});

  RunResult run = board.runWithRoot({"-"}, input);

  EXPECT_EQ(run.status, 0) << run.out;
  TreeSnapshot after = board.snapshot();
  EXPECT_EQ(after["/flash/bootimage"], fileEntry(image, 0644));
  EXPECT_EQ(after["/flash/var/pdb/kernel/image"], linkEntry("/flash/bootimage"));
  EXPECT_EQ(after["/flash/UPGRADED"], fileEntry("", 0600));
  EXPECT_EQ(after.count("/flash/boot/vmlinux"), 0u);
}

}  // namespace
