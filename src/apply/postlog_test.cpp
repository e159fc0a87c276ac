#include "apply/postlog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/scratch_dir.h"

namespace {

class Postlog : public ::testing::Test {
 protected:
  void SetUp() override {
    forgetPostlogLoaded();
    ASSERT_TRUE(writeFile(scratch_.path() + "/flash/.keep", ""));
  }
  void TearDown() override { forgetPostlogLoaded(); }

  std::string logPath() const { return scratch_.path() + kPostlogPath; }

  ScratchDir scratch_;
  Repository repository_;
};

TEST_F(Postlog, LoadingPutsTheCompleteLinesBeforeThisRunsMessagesAndBlanksTheFile) {
  ASSERT_TRUE(writeFile(logPath(), "installed a-1.0\nenabled b-2.0\ncut off"));
  repository_.messages.push_back("earlier");

  loadPostlog(repository_, scratch_.path());

  EXPECT_EQ(repository_.messages, (std::vector<std::string>{"installed a-1.0", "enabled b-2.0", "earlier"}));
  EXPECT_EQ(readFile(logPath()), std::string(kPostlogBlankSize, '\0'));
  EXPECT_TRUE(postlogLoaded());
}

TEST_F(Postlog, AMissingLogCountsAsEmptyAndIsCreatedBlank) {
  loadPostlog(repository_, scratch_.path());
  EXPECT_TRUE(repository_.messages.empty());
  EXPECT_EQ(readFile(logPath()), std::string(kPostlogBlankSize, '\0'));
}

TEST_F(Postlog, ABlankedLogYieldsNoLineAndItsPaddingIsNoPartOfLaterLines) {
  // A run that blanked the log and never rewrote it, then a run that appended.
  ASSERT_TRUE(writeFile(logPath(), std::string(kPostlogBlankSize, '\0') + "installed c-1.0\n"));
  loadPostlog(repository_, scratch_.path());
  EXPECT_EQ(repository_.messages, (std::vector<std::string>{"installed c-1.0"}));
}

TEST_F(Postlog, AfterLoadingTheLogIsRewrittenWithOldLinesThenNewOnes) {
  ASSERT_TRUE(writeFile(logPath(), "old one\nold two\n"));
  loadPostlog(repository_, scratch_.path());
  repository_.messages.push_back("installed a-1.0");

  writePostlog(repository_, scratch_.path());

  EXPECT_EQ(readFile(logPath()), "old one\nold two\ninstalled a-1.0\n");
}

TEST_F(Postlog, WithoutLoadingTheMessagesAreAppended) {
  ASSERT_TRUE(writeFile(logPath(), "old one\n"));
  repository_.messages = {"ERROR: not enough space for upgrade", "installed a-1.0"};

  writePostlog(repository_, scratch_.path());

  EXPECT_EQ(readFile(logPath()), "old one\nERROR: not enough space for upgrade\ninstalled a-1.0\n");
}

TEST_F(Postlog, NothingToSayAndNothingLoadedLeavesTheLogAlone) {
  writePostlog(repository_, scratch_.path());
  EXPECT_FALSE(pathExists(logPath()));

  ASSERT_TRUE(writeFile(logPath(), "old one\n"));
  writePostlog(repository_, scratch_.path());
  EXPECT_EQ(readFile(logPath()), "old one\n");
}

TEST_F(Postlog, ALoadedLogWithNothingNewIsRewrittenWithItsOldLines) {
  ASSERT_TRUE(writeFile(logPath(), "old one\n"));
  loadPostlog(repository_, scratch_.path());
  writePostlog(repository_, scratch_.path());
  EXPECT_EQ(readFile(logPath()), "old one\n");
}

}  // namespace
