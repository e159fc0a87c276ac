#include "cli/command_line.h"

#include <sstream>
#include <vector>

#include <gtest/gtest.h>

namespace {

struct Parsed {
  CommandAction action;
  RunOptions options;
  std::string output;
};

Parsed parse(std::vector<const char*> words) {
  words.insert(words.begin(), "installer");
  Parsed parsed;
  std::ostringstream out;
  parsed.action = parseCommandLine(static_cast<int>(words.size()), words.data(), parsed.options, out);
  parsed.output = out.str();
  return parsed;
}

TEST(CommandLine, NoWordsRunTheUpgradeWithTheDefaults) {
  Parsed parsed = parse({});
  EXPECT_EQ(parsed.action, CommandAction::Run);
  EXPECT_FALSE(parsed.options.cleanupMode || parsed.options.fromStdin || parsed.options.quiet ||
               parsed.options.showMode);
  EXPECT_EQ(parsed.options.installFlags, InstallFlags::None);
  EXPECT_TRUE(parsed.options.commitNow);
  EXPECT_EQ(parsed.options.root, "");
  EXPECT_EQ(parsed.options.architecture, "i386");
  EXPECT_EQ(parsed.output, "");
}

TEST(CommandLine, WordsThatAreNoOptionGiveTheUsageLine) {
  std::vector<std::vector<const char*>> cases = {
      {"--bogus"}, {"-r"}, {"-q", "-r"}, {"--Commit"}, {"--show", "x"}, {""}, {"--safe", "-qq"}, {"-R", "/x"},
  };
  for (const auto& words : cases) EXPECT_EQ(parse(words).action, CommandAction::Usage) << words[0];
  std::ostringstream out;
  printUsage(out);
  EXPECT_EQ(out.str(), "usage: installer [-q] [-r <root>] [-]\n");
}

TEST(CommandLine, CommitAndCancelActWhenMetAndNoLaterWordIsRead) {
  struct Case {
    std::vector<const char*> words;
    CommandAction action;
  } cases[] = {
      {{"--commit"}, CommandAction::Commit},
      {{"-q", "--commit"}, CommandAction::Commit},
      {{"--commit", "--bogus"}, CommandAction::Commit},
      {{"--commit", "--cancel"}, CommandAction::Commit},
      {{"-r", "/x", "--cancel"}, CommandAction::Cancel},
      {{"--cancel", "--commit"}, CommandAction::Cancel},
      {{"--bogus", "--commit"}, CommandAction::Usage},
      {{"--commit", "--reinstall"}, CommandAction::Commit},
  };
  for (const Case& c : cases) {
    Parsed parsed = parse(c.words);
    EXPECT_EQ(parsed.action, c.action) << c.words[0] << " ... " << c.words.back();
    EXPECT_EQ(parsed.output, "") << "nothing after --commit or --cancel is read";
  }
}

TEST(CommandLine, CleanupAndStandardInputStopTheReading) {
  Parsed cleanup = parse({"--cleanup", "--safe", "--bogus"});
  EXPECT_EQ(cleanup.action, CommandAction::Run);
  EXPECT_TRUE(cleanup.options.cleanupMode);
  EXPECT_TRUE(cleanup.options.commitNow) << "--safe after --cleanup is never read";

  Parsed image = parse({"-", "--show", "--commit"});
  EXPECT_EQ(image.action, CommandAction::Run);
  EXPECT_TRUE(image.options.fromStdin);
  EXPECT_FALSE(image.options.showMode);

  Parsed show = parse({"--show", "-"});
  EXPECT_TRUE(show.options.showMode);
  EXPECT_TRUE(show.options.fromStdin);
}

TEST(CommandLine, OptionsSetTheirFields) {
  Parsed parsed = parse({"--safe", "-r", "/first", "-q", "-down", "-b", "--force", "--noupgrade", "-i", "-r",
                         "/second", "--show"});
  EXPECT_EQ(parsed.action, CommandAction::Run);
  EXPECT_FALSE(parsed.options.commitNow);
  EXPECT_EQ(parsed.options.root, "/second") << "a later -r replaces an earlier one";
  EXPECT_TRUE(parsed.options.quiet);
  EXPECT_EQ(parsed.options.installFlags, InstallFlags::Downgrade);
  EXPECT_TRUE(parsed.options.showMode);
}

TEST(CommandLine, RootTakesTheNextWordWhateverItIs) {
  Parsed parsed = parse({"-r", "--commit"});
  EXPECT_EQ(parsed.action, CommandAction::Run);
  EXPECT_EQ(parsed.options.root, "--commit");
}

TEST(CommandLine, ReinstallPrintsItsTwoLinesEachTimeItIsMet) {
  Parsed parsed = parse({"--reinstall", "-down", "--reinstall"});
  EXPECT_EQ(parsed.output, "\nResuming upgrade...\n\nResuming upgrade...\n");
  EXPECT_EQ(parsed.options.installFlags, InstallFlags::Reinstall | InstallFlags::Downgrade);
  EXPECT_EQ(parse({"--reinstall", "--bogus"}).output, "\nResuming upgrade...\n") << "printed before the usage";
}

}  // namespace
