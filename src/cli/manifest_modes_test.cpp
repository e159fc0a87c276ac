#include "cli/manifest_modes.h"

#include <sstream>

#include <gtest/gtest.h>

#include "support/scratch_dir.h"

namespace {

TEST(ManifestModes, CommitAppliesTheManifestWithinItsFrameAndKeepsIt) {
  ScratchDir scratch;
  ASSERT_TRUE(writeFile(scratch / "staged", "new"));
  ASSERT_TRUE(writeFile(scratch / "old", "old"));
  std::string manifest = "U " + scratch / "old\n" + "M " + scratch / "dir/new " + scratch / "staged\n";
  ASSERT_TRUE(writeFile(scratch / "MANIFEST", manifest));
  std::ostringstream out;
  EXPECT_EQ(runCommitMode(scratch / "MANIFEST", out), 0);
  EXPECT_EQ(out.str(), "finishing install... \b \n");
  EXPECT_EQ(readFile(scratch / "dir/new"), "new");
  EXPECT_FALSE(pathExists(scratch / "old"));
  EXPECT_EQ(readFile(scratch / "MANIFEST"), manifest);
}

TEST(ManifestModes, CommitWithoutAManifestOnlyPrints) {
  ScratchDir scratch;
  std::ostringstream out;
  EXPECT_EQ(runCommitMode(scratch / "MANIFEST", out), 0);
  EXPECT_EQ(out.str(), "finishing install... \b \n");
}

TEST(ManifestModes, CancelDeletesTheStagedFilesAndTheManifestButNotTheDestinations) {
  ScratchDir scratch;
  ASSERT_TRUE(writeFile(scratch / "flash/tmpAbCdEf", "staged"));
  ASSERT_TRUE(writeFile(scratch / "flash/dst", "current"));
  ASSERT_TRUE(writeFile(scratch / "flash/keep.vpa", "package"));
  ASSERT_TRUE(writeFile(scratch / "flash/old", "old"));
  ASSERT_TRUE(writeFile(scratch / "MANIFEST", "M " + scratch / "flash/dst " + scratch / "flash/tmpAbCdEf\n" + "U " +
                                                   scratch / "flash/old\n" + "M " + scratch / "flash/img " +
                                                   scratch / "flash/keep.vpa\n"));
  EXPECT_EQ(runCancelMode(scratch / "MANIFEST"), 0);
  EXPECT_FALSE(pathExists(scratch / "flash/tmpAbCdEf"));
  EXPECT_FALSE(pathExists(scratch / "MANIFEST"));
  EXPECT_EQ(readFile(scratch / "flash/dst"), "current");
  EXPECT_EQ(readFile(scratch / "flash/keep.vpa"), "package");
  EXPECT_EQ(readFile(scratch / "flash/old"), "old");
  EXPECT_FALSE(pathExists(scratch / "flash/img"));
}

TEST(ManifestModes, CancelWithoutAManifestDoesNothing) {
  ScratchDir scratch;
  EXPECT_EQ(runCancelMode(scratch / "MANIFEST"), 0);
  EXPECT_FALSE(pathExists(scratch / "MANIFEST"));
}

}  // namespace
