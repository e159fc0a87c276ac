// The scenario runner itself: a wrong expectation must fail where it is
// written, a fault in a scenario must be named at its line, and what a
// rewrite writes must read back as what the run gave.
#include "support/scenario_runner.h"

#include <gtest/gtest.h>

#include "support/scenario_rewrite.h"
#include "support/scenario_text.h"
#include "support/scratch_dir.h"

namespace {

// Every failure as "LINE: message".
std::string failuresOf(const std::string& text) {
  const ScenarioFile file = parseScenarioFile("t.scn", text);
  if (!file.error.empty()) return std::to_string(file.errorLine) + ": " + file.error;
  if (!file.scenarios[0].error.empty())
    return std::to_string(file.scenarios[0].errorLine) + ": " + file.scenarios[0].error;
  const ScenarioOutcome outcome = runScenario(file.scenarios[0], true);
  std::string out = outcome.skipped ? "skipped: " + outcome.skipReason : std::string();
  for (const ScenarioFailure& failure : outcome.failures)
    out += std::to_string(failure.line) + ": " + failure.message + "\n";
  return out;
}

const char kInstall[] =
    "=== T\n"
    "package app 1.0\n"
    "  bin/app=a \"b\\\\c\\x01 \n"
    "run\n";

TEST(ScenarioRunner, AWrongExpectationFailsAtItsLineWithTheDifference) {
  const std::string right =
      "| installed app-1.0\n"
      "+ /flash/PCKGS_CHANGED 0600 \"\"\n"
      "+ /flash/bin/ 0755\n"
      "+ /flash/bin/app 0755 \"a \\\"b\\\\c\\x01\\x20\"\n"
      "+ /flash/postlog 0644 \"installed app-1.0\\n\"\n"
      "+ /flash/var/pdb/app/ 0755 entry 1.0 files=bin/app\n";
  const std::string passing = failuresOf(kInstall + right);
  if (passing.find("skipped") == 0) GTEST_SKIP() << passing;
  ASSERT_EQ(passing, "");
  struct Case {
    std::string from, to;  // a change to the right expectation
    std::string failure;
  } cases[] = {
      {"| installed", "status 1\n| installed", "5: after `run` (line 4): status 0, expected 1\n"},
      {"installed app-1.0\n+", "installed app\n+",
       "5: after `run` (line 4): standard output as the console shows it differs:\n"
       "expected | installed app\nactual   | installed app-1.0\n"},
      {"+ /flash/bin/ 0755\n", "+ /flash/bin/ 0755\n! oops\n",
       "8: after `run` (line 4): standard error differs:\nexpected ! oops\n"},
      {"0755 \"a", "0644 \"a", "8: after `run` (line 4): the board's changes differ:\n"},
      {"+ /flash/bin/ 0755\n", "", "6: after `run` (line 4): the board's changes differ:\n"},
      {"files=bin/app", "files=bin/app,bin/b", "10: after `run` (line 4): the board's changes differ:\n"},
      {"+ /flash/bin/ 0755\n", "+ /flash/bin/ 0755\n- /flash/gone\n",
       "8: after `run` (line 4): the board's changes differ:\n         + /flash/PCKGS_CHANGED 0600 \"\"\n"
       "         + /flash/bin/ 0755\n         + /flash/bin/app"},
  };
  for (const Case& c : cases) {
    std::string wrong = right;
    wrong.replace(wrong.find(c.from), c.from.size(), c.to);
    const std::string failures = failuresOf(kInstall + wrong);
    EXPECT_EQ(failures.substr(0, c.failure.size()), c.failure) << c.to;
  }
}

TEST(ScenarioRunner, ARewriteReadsBackAsWhatTheRunsGaveAndKeepsEverythingElse) {
  ScratchDir dir;
  const std::string path = dir / "t.scn";
  const std::string text =
      std::string("# kept\n") + kInstall + "| wrong\n# kept too\nrun-inside --commit\n= \\c\n" + "run - <<< x\n";
  ASSERT_TRUE(writeFile(path, text));
  const ScenarioFile before = parseScenarioFile(path, text);
  const ScenarioOutcome first = runScenario(before.scenarios[0], true);
  if (first.skipped) GTEST_SKIP() << first.skipReason;
  ASSERT_EQ(first.rewrites.size(), 3u);
  std::string error;
  ASSERT_TRUE(rewriteScenarioFile(path, "T", first.rewrites, &error)) << error;

  const std::string rewritten = readFile(path);
  const ScenarioFile after = parseScenarioFile(path, rewritten);
  const ScenarioOutcome second = runScenario(after.scenarios[0], false);
  EXPECT_TRUE(second.failures.empty()) << rewritten << second.failures[0].message;
  const size_t inputs = text.find("| wrong");
  EXPECT_EQ(rewritten.substr(0, inputs), text.substr(0, inputs));
  EXPECT_NE(rewritten.find("# kept too\nrun-inside --commit\n= finishing install... \\b\\x20\n"), std::string::npos)
      << rewritten;
  // A rewrite of runs that pass changes nothing.
  ASSERT_TRUE(rewriteScenarioFile(path, "T", second.rewrites, &error)) << error;
  EXPECT_EQ(readFile(path), rewritten);
}

TEST(ScenarioFile, NamesTheLineOfEveryFault) {
  struct Case {
    const char* text;
    const char* failure;
  } cases[] = {
      {"package a 1.0\n", "1: only comments come before the first \"=== Title\""},
      {"=== A b\n", "1: a title is letters, digits and \"_\": A b"},
      {"=== A\n=== A\n", "2: a second block titled A"},
      {"=== A\n\nfrobnicate\n", "3: unknown directive \"frobnicate\""},
      {"=== A\n| output\n", "2: expected lines follow their run directly"},
      {"=== A\nrun\n\n| output\n", "4: expected lines follow their run directly"},
      {"=== A\nfile /a=b\n  bin/a=b\n", "3: an indented line belongs to a package"},
      {"=== A\nrun\nstatus 256\n", "3: status is a number from 0 to 255"},
      {"=== A\nrun\n| a\n= b\n", "4: a run's output is written with \"|\" lines or with \"=\" lines, not both"},
      {"=== A\nrun\n| a\\c\n| b\n", "4: output goes on after a line that ended in \\c"},
      {"=== A\nrun\n! \\q\n", "3: bad escape \"\\q\" (\\n \\t \\r \\b \\e \\0 \\\\ \\\" \\' \\xNN)"},
      {"=== A\nrun\n+ /a 644 \"x\"\n", "3: expected a mode (0644) or \"-> TARGET\" after the path"},
      {"=== A\nrun\n+ /a/ 0755 \"x\"\n",
       "3: a directory line ends after its mode (or \"entry\" and a package's notation)"},
      {"=== A\nrun\n+ /a/ 0755 entry 1.0 >\n", "3: entry: bad word \">\""},
      {"=== A\nrun\n- /a 0644\n", "3: a removal line ends after its path"},
      {"=== A\nrun\n+ /a 0644 {x*}\n", "3: expected {BYTE*COUNT}, not {x*}"},
      {"=== A\nrun\n+ /a 0644 {1 bytes md5 x}\n", "3: expected {SIZE bytes sha1 HEX}"},
      {"=== A\nrun\n+ a 0644 \"\"\n", "3: a change line is \"+ PATH ...\", \"~ PATH ...\" or \"- PATH\""},
      {"=== A\ninstalled  system 6.41; ppp\n", "2: column 25: no version after \"ppp\"\n"},
      {"=== A\npackage a 1.0\n  bin/a\n", "3: expected [MODE ]PATH=CONTENT\n"},
      {"=== A\ndamage a cut 1\n", "2: expected damage NAME KNOB, NAME a package built before it\n"},
      {"=== A\npackage a 1.0\ndamage a cut 99999\n",
       "3: cut SIZE: at most the file's size, or -K for K bytes off the end\n"},
      {"=== A\nrun - < nothing\n", "2: no package nothing was built for standard input\n"},
  };
  for (const Case& c : cases) {
    const std::string failures = failuresOf(c.text);
    if (failures.find("skipped") == 0) GTEST_SKIP() << failures;
    EXPECT_EQ(failures, c.failure) << c.text;
  }
}

TEST(ScenarioText, EveryByteReadsBackAsWrittenAndTheConsoleShowsWhatIsLeftOnTheLine) {
  for (int byte = 0; byte < 256; ++byte) {
    const std::string bytes = std::string(1, static_cast<char>(byte)) + "x" + std::string(1, static_cast<char>(byte));
    std::string back, error;
    EXPECT_TRUE(unescape(escape(bytes, true), &back, &error) && back == bytes) << byte << " " << escape(bytes, true);
  }
  const std::string wipe = "\r" + std::string(79, ' ') + "\r";
  struct Case {
    std::string output, shown;
  } cases[] = {
      {"\x1b[?25l\rinstalling x [###   ]\r\x1b[?25h" + wipe + "installed x\ninstalling x [###   ]" + wipe,
       "installed x\n"},
      {"abcd\rX\n", "Xbcd\n"},
      {"finishing install... |\b \n", "finishing install...\n"},
      {"last  ", "last"},
  };
  for (const Case& c : cases) EXPECT_EQ(consoleView(c.output), c.shown) << escape(c.output);
}

}  // namespace
