// The post-install log on a board that loses power right after it is written.
#include "install/postlog.h"

#include <gtest/gtest.h>

#include "platform/faulty_file_system.h"
#include "support/scratch_dir.h"

// The cut keeps the log and what the run changed before it, also outside the flash: the taken downgrade marker.
TEST(Postlog, ACutAfterTheLogKeepsItAndWhatTheRunChangedBefore) {
  ScratchDir scratch;
  writeFile(scratch / "flash/postlog", "installed tool-1.0\n");
  writeFile(scratch / "rw/DOWNGRADE", "");
  FaultyFileSystem fs(InjectedFault(), -1);
  Console console(nullptr, true);
  console.prependMessages({"installed tool-2.0"});
  std::string failedPath;
  ASSERT_TRUE(fs.unlink(scratch / "rw/DOWNGRADE") && Postlog(BoardPaths(fs, scratch.path())).write(console, &failedPath));
  fs.losePower(CutPolicy::kNoneKept, "");
  EXPECT_EQ(readFile(scratch / "flash/postlog"), "installed tool-1.0\ninstalled tool-2.0\n");
  EXPECT_FALSE(std::filesystem::exists(scratch / "rw/DOWNGRADE"));
}
