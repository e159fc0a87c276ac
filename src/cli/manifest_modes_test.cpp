#include "cli/manifest_modes.h"

#include <sstream>

#include <gtest/gtest.h>

#include "support/scratch_dir.h"

namespace {

const char kDamaged[] = "ERROR: damaged manifest /ram/MANIFEST: nothing was changed\n";

TEST(ManifestModes, CommitAppliesTheManifestWithinItsFrameAndKeepsIt) {
  ScratchDir scratch;
  ASSERT_TRUE(writeFile(scratch / "ram/tmpAbCdEf", "new"));
  ASSERT_TRUE(writeFile(scratch / "flash/old", "old"));
  std::string manifest = "U " + scratch / "flash/old\n" + "M " + scratch / "flash/dir/new " + scratch / "ram/tmpAbCdEf\n";
  ASSERT_TRUE(writeFile(scratch / "ram/MANIFEST", manifest));
  std::ostringstream out;
  EXPECT_EQ(runCommitMode(BoardPaths(scratch.path()), out), 0);
  EXPECT_EQ(out.str(), "finishing install... \b \n");
  EXPECT_EQ(readFile(scratch / "flash/dir/new"), "new");
  EXPECT_FALSE(pathExists(scratch / "flash/old"));
  EXPECT_EQ(readFile(scratch / "ram/MANIFEST"), manifest);
}

// A manifest that is cut, malformed or reaches outside the flash changes
// nothing, whether committed or cancelled; a missing one is nothing to do.
TEST(ManifestModes, ADamagedManifestChangesNothingAndAMissingOneIsNothingToDo) {
  const struct {
    const char* what;
    std::string manifest;  // "@" stands for the scratch root
    int commitStatus;
    const char* out;
  } cases[] = {
      {"missing", "", 0, "finishing install... \b \n"},
      {"cut inside a line", "U @/flash/old\nM @/flash/new @/ram/tmpAbCdE", 1, kDamaged},
      {"cut after a removal", "U @/flash/old", 1, kDamaged},
      {"a line of one field", "U @/flash/old\nM\n", 1, kDamaged},
      {"an empty line", "U @/flash/old\n\nM @/flash/new @/ram/tmpAbCdEf\n", 1, kDamaged},
      {"an unknown letter", "U @/flash/old\nX @/flash/a @/flash/b\n", 1, kDamaged},
      {"a destination outside the flash", "U @/flash/old\nU @/etc\n", 1, kDamaged},
      {"the flash itself", "U @/flash\n", 1, kDamaged},
      {"a destination climbing out", "U @/flash/../etc/passwd\n", 1, kDamaged},
      {"a source outside flash and RAM disk", "M @/flash/new @/etc/passwd\n", 1, kDamaged},
      {"a source climbing out", "M @/flash/new @/ram/../etc/passwd\n", 1, kDamaged},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (bool commit : {true, false}) {
      ScratchDir scratch;
      ASSERT_TRUE(writeFile(scratch / "flash/old", "old"));
      ASSERT_TRUE(writeFile(scratch / "ram/tmpAbCdEf", "new"));
      ASSERT_TRUE(writeFile(scratch / "etc/passwd", "root"));
      std::string manifest = c.manifest;
      for (size_t at; (at = manifest.find('@')) != std::string::npos;) manifest.replace(at, 1, scratch.path());
      if (!manifest.empty()) {
        ASSERT_TRUE(writeFile(scratch / "ram/MANIFEST", manifest));
      }
      std::ostringstream out;
      const int status = commit ? runCommitMode(BoardPaths(scratch.path()), out) : runCancelMode(BoardPaths(scratch.path()), out);
      EXPECT_EQ(status, c.commitStatus);
      EXPECT_EQ(out.str(), commit || c.commitStatus != 0 ? c.out : "");
      EXPECT_EQ(readFile(scratch / "flash/old"), "old");
      EXPECT_EQ(readFile(scratch / "ram/tmpAbCdEf"), "new");
      EXPECT_EQ(readFile(scratch / "etc/passwd"), "root");
      EXPECT_FALSE(pathExists(scratch / "flash/new"));
      EXPECT_EQ(pathExists(scratch / "ram/MANIFEST"), !manifest.empty() && c.commitStatus != 0);
    }
  }
}

TEST(ManifestModes, CancelDeletesTheStagedFilesAndTheManifestButNotTheDestinations) {
  ScratchDir scratch;
  ASSERT_TRUE(writeFile(scratch / "flash/tmpAbCdEf", "staged"));
  ASSERT_TRUE(writeFile(scratch / "flash/dst", "current"));
  ASSERT_TRUE(writeFile(scratch / "flash/keep.vpa", "package"));
  ASSERT_TRUE(writeFile(scratch / "flash/old", "old"));
  ASSERT_TRUE(writeFile(scratch / "ram/MANIFEST", "M " + scratch / "flash/dst " + scratch / "flash/tmpAbCdEf\n" +
                                                      "U " + scratch / "flash/old\n" + "M " + scratch / "flash/img " +
                                                      scratch / "flash/keep.vpa\n"));
  std::ostringstream out;
  EXPECT_EQ(runCancelMode(BoardPaths(scratch.path()), out), 0);
  EXPECT_FALSE(pathExists(scratch / "flash/tmpAbCdEf"));
  EXPECT_FALSE(pathExists(scratch / "ram/MANIFEST"));
  EXPECT_EQ(readFile(scratch / "flash/dst"), "current");
  EXPECT_EQ(readFile(scratch / "flash/keep.vpa"), "package");
  EXPECT_EQ(readFile(scratch / "flash/old"), "old");
  EXPECT_FALSE(pathExists(scratch / "flash/img"));
}

}  // namespace
