#include "model/console.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <string>


namespace {

const std::string kEsc = "\x1b";
const std::string kHide = kEsc + "[?25l";
const std::string kShow = kEsc + "[?25h";
const std::string kWipe = "\r" + std::string(79, ' ') + "\r";

class ConsoleTest : public ::testing::Test {
 protected:
  ConsoleTest() { repository.console = &out; }

  // Output so far, then forgets it.
  std::string take() {
    std::string text = out.str();
    out.str(std::string());
    return text;
  }

  std::ostringstream out;
  Repository repository;
};

TEST_F(ConsoleTest, QuietWritesAndRecordsNothing) {
  repository.quiet = true;
  Package package("ppp");
  setProgressLine(repository, "installing ppp");
  showReadProgress(repository, "installing ppp", 5, 10);
  reportError(repository, "can not install %s", "x-1.0");
  reportWarning(repository, "skipped %s", "x-1.0");
  reportInfo(repository, "installed %s", "x-1.0");
  reportCreateFailure(repository, package, "files", ENOSPC);
  reportBrokenPackage(repository, package);

  EXPECT_EQ(take(), "");
  EXPECT_TRUE(repository.messages.empty());
  EXPECT_EQ(repository.progressLine, "");
}

TEST_F(ConsoleTest, UnchangedProgressLineWritesNothing) {
  setProgressLine(repository, "enabling ppp-6.40...");
  take();
  setProgressLine(repository, "enabling ppp-6.40...");
  EXPECT_EQ(take(), "");
  setProgressLine(repository, "");
  take();
  setProgressLine(repository, "");  // clearing a cleared line
  EXPECT_EQ(take(), "");
}

TEST_F(ConsoleTest, ProgressLineIsRewrittenInPlaceAndPaddedWhenShorter) {
  struct Step {
    const char* text;
    std::string expected;
  } const steps[] = {
      {"abcdef", kHide + "\rabcdef\r" + kShow},
      {"abc", kHide + "\rabc   \r" + kShow},
      {"abcdefgh", kHide + "\rabcdefgh\r" + kShow},  // longer: no padding
      {"", kHide + "\r        \r" + kShow},          // clearing overwrites every character
  };
  for (const Step& step : steps) {
    setProgressLine(repository, step.text);
    EXPECT_EQ(take(), step.expected) << "text \"" << step.text << "\"";
    EXPECT_EQ(repository.progressLine, step.text);
  }
  EXPECT_TRUE(repository.messages.empty());
}

TEST_F(ConsoleTest, WarningRedrawsTheProgressLineBelowIt) {
  setProgressLine(repository, "installing ppp [###   ]");
  take();
  reportWarning(repository, "package %s skipped", "ppp-6.40");
  EXPECT_EQ(take(), kWipe + "WARNING: package ppp-6.40 skipped\ninstalling ppp [###   ]");
  EXPECT_EQ(repository.progressLine, "installing ppp [###   ]");
  ASSERT_EQ(repository.messages.size(), 1u);
  EXPECT_EQ(repository.messages[0], "WARNING: package ppp-6.40 skipped");
}

TEST_F(ConsoleTest, ErrorAndInfoClearTheProgressLineAndDoNotRedrawIt) {
  struct Case {
    void (*report)(Repository&, const char*, ...);
    const char* format;
    std::string line;
  } const cases[] = {
      {reportError, "can not install %s", "ERROR: can not install x-1.0"},
      {reportInfo, "installed %s", "installed x-1.0"},  // no prefix
  };
  for (const Case& c : cases) {
    Repository fresh;
    fresh.console = &out;
    setProgressLine(fresh, "enabling x-1.0...");
    take();
    c.report(fresh, c.format, "x-1.0");
    EXPECT_EQ(take(), kHide + "\r" + std::string(17, ' ') + "\r" + kShow + c.line + "\n");
    EXPECT_EQ(fresh.progressLine, "");
    EXPECT_EQ(fresh.messages, std::vector<std::string>{c.line});
  }
}

TEST_F(ConsoleTest, MessagesWithoutProgressLineArePlainLinesRecordedInOrder) {
  reportWarning(repository, "one");
  reportInfo(repository, "two %s", "%s%n");  // an argument is never a format
  reportError(repository, "three");
  EXPECT_EQ(take(), "WARNING: one\ntwo %s%n\nERROR: three\n");
  const std::vector<std::string> expected = {"WARNING: one", "two %s%n", "ERROR: three"};
  EXPECT_EQ(repository.messages, expected);
}

TEST_F(ConsoleTest, FormattedTextIsCutAt255CharactersWithoutThePrefix) {
  struct Case {
    size_t length, kept;
  } const cases[] = {{254, 254}, {255, 255}, {256, 255}, {300, 255}, {5000, 255}};
  for (const Case& c : cases) {
    Repository fresh;
    fresh.console = &out;
    const std::string text(c.length, 'x');
    reportWarning(fresh, "%s", text.c_str());
    ASSERT_EQ(fresh.messages.size(), 1u);
    EXPECT_EQ(fresh.messages[0], "WARNING: " + std::string(c.kept, 'x')) << c.length;
    EXPECT_EQ(take(), fresh.messages[0] + "\n") << c.length;
  }
}

TEST_F(ConsoleTest, ReadProgressBarIsAlways77Characters) {
  const std::string label = "installing ppp  ";  // 16 characters: a bar of 58 cells
  ASSERT_EQ(label.size(), 16u);
  struct Case {
    uint64_t done, total;
    size_t filled;
  } const cases[] = {
      {0, 1000, 0},
      {500, 1000, 29},
      {999, 1000, 57},
      {1000, 1000, 58},
      {0xFFFFFFFEu, 0xFFFFFFFFu, 57},  // the product needs 64 bits
      {2000, 1000, 58},                // a file longer than its header says
      {10, 0, 0},                      // unknown size
  };
  for (const Case& c : cases) {
    Repository fresh;
    fresh.console = &out;
    showReadProgress(fresh, label, c.done, c.total);
    const std::string expected =
        label + " [" + std::string(c.filled, '#') + std::string(58 - c.filled, ' ') + "]";
    EXPECT_EQ(fresh.progressLine, expected) << c.done << "/" << c.total;
    EXPECT_EQ(fresh.progressLine.size(), 77u);
  }
}

TEST_F(ConsoleTest, ReadProgressWritesOnlyWhenTheBarGrows) {
  showReadProgress(repository, "installing x", 0, 7600);
  EXPECT_NE(take(), "");
  showReadProgress(repository, "installing x", 50, 7600);  // still no cell filled
  EXPECT_EQ(take(), "");
  showReadProgress(repository, "installing x", 7600, 7600);
  EXPECT_EQ(take(), kHide + "\rinstalling x [" + std::string(62, '#') + "]\r" + kShow);
}

TEST_F(ConsoleTest, ReadProgressWithALabelTooLongForTheLineDrawsNoCells) {
  const std::string label(90, 'l');
  showReadProgress(repository, label, 1, 2);
  EXPECT_EQ(repository.progressLine, label + " []");
}

TEST_F(ConsoleTest, CreateFailureIsToldByErrno) {
  Package member("wireless");
  member.version = makeVersion(6, 41, 'f', 0);
  member.bundle.name = "base";
  member.bundle.min = makeVersion(6, 40, 'f', 0);
  struct Case {
    int error;
    std::string expected;
  } const cases[] = {
      {ENOSPC, "ERROR: installation of base-6.40 failed: disk is too small"},
      {EIO, "ERROR: installation of base-6.40 failed: disk error"},
      {EACCES, std::string("ERROR: installation of base-6.40 failed: could not create /bin/iw: ") +
                   strerror(EACCES)},
      {0, std::string("ERROR: installation of base-6.40 failed: could not create /bin/iw: ") +
              strerror(0)},
  };
  for (const Case& c : cases) {
    Repository fresh;
    fresh.console = &out;
    setProgressLine(fresh, "installing base");
    reportCreateFailure(fresh, member, "/bin/iw", c.error);
    ASSERT_EQ(fresh.messages.size(), 1u);
    EXPECT_EQ(fresh.messages[0], c.expected);
    EXPECT_EQ(fresh.progressLine, "");
  }
}

}  // namespace
