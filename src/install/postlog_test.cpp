#include "install/postlog.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/scratch_dir.h"

namespace {

class PostlogTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(writeFile(scratch_.path() + "/flash/.keep", "")); }

  std::string logPath() const { return scratch_.path() + kPostlogPath; }

  ScratchDir scratch_;
  Postlog log_{BoardPaths(scratch_.path())};
  Repository repository_;
};

TEST_F(PostlogTest, LoadingPutsTheCompleteLinesBeforeThisRunsMessagesAndBlanksTheFile) {
  ASSERT_TRUE(writeFile(logPath(), "installed a-1.0\nenabled b-2.0\ncut off"));
  repository_.messages.push_back("earlier");

  log_.load(repository_);

  EXPECT_EQ(repository_.messages, (std::vector<std::string>{"installed a-1.0", "enabled b-2.0", "earlier"}));
  EXPECT_EQ(readFile(logPath()), std::string(kPostlogBlankSize, '\0'));
}

TEST_F(PostlogTest, AMissingLogCountsAsEmptyAndIsCreatedBlank) {
  log_.load(repository_);
  EXPECT_TRUE(repository_.messages.empty());
  EXPECT_EQ(readFile(logPath()), std::string(kPostlogBlankSize, '\0'));
}

TEST_F(PostlogTest, ABlankedLogYieldsNoLineAndItsPaddingIsNoPartOfLaterLines) {
  // A run that blanked the log and never rewrote it, then a run that appended.
  ASSERT_TRUE(writeFile(logPath(), std::string(kPostlogBlankSize, '\0') + "installed c-1.0\n"));
  log_.load(repository_);
  EXPECT_EQ(repository_.messages, (std::vector<std::string>{"installed c-1.0"}));
}

// Once loaded in this run, the log is rewritten with its old lines and
// then the new ones; otherwise the new ones are appended, and nothing to say
// leaves it alone.
TEST_F(PostlogTest, WritingReplacesALoadedLogAndAppendsToAnyOther) {
  struct Case {
    const char* what;
    const char* old;  // nullptr: no log
    bool loaded;
    std::vector<std::string> messages;
    const char* expected;  // nullptr: still no log
  } const cases[] = {
      {"loaded", "old one\nold two\n", true, {"installed a-1.0"}, "old one\nold two\ninstalled a-1.0\n"},
      {"loaded, nothing new", "old one\n", true, {}, "old one\n"},
      {"not loaded", "old one\n", false, {"ERROR: not enough space for upgrade", "installed a-1.0"},
       "old one\nERROR: not enough space for upgrade\ninstalled a-1.0\n"},
      {"not loaded, nothing new", "old one\n", false, {}, "old one\n"},
      {"not loaded, nothing new, no log", nullptr, false, {}, nullptr},
  };
  for (const Case& c : cases) {
    Postlog log{BoardPaths(scratch_.path())};
    Repository repository;
    if (c.old) {
      ASSERT_TRUE(writeFile(logPath(), c.old));
    }
    if (c.loaded) log.load(repository);
    repository.messages.insert(repository.messages.end(), c.messages.begin(), c.messages.end());
    log.write(repository);
    const std::string found = pathExists(logPath()) ? readFile(logPath()) : "<no log>";
    EXPECT_EQ(found, c.expected ? c.expected : "<no log>") << c.what;
    ::unlink(logPath().c_str());
  }
}

}  // namespace
