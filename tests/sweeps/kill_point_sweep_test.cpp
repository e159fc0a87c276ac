// Kill-point sweep: an upgrade (of a package; of a bundle, with a scheduled
// uninstall), image mode, --safe and --commit, each killed at every
// file-changing system call it makes, then the program run again. Every board
// ends byte for byte in the old state or the new one, with no temporary file,
// journal or staging record left over (but the staged files a saved manifest
// still names). strace's fault injection kills the program: the Nth call of
// one system call at a time, N = 1, 2, ... until a run completes, for every
// call in the set.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "support/scratch_dir.h"
#include "sweeps/sweep.h"

namespace {

// The calls that change files. strace cannot tell opens by their flags, so
// every open is a kill point, reading ones included.
const char* const kFileChangingCalls[] = {
    "open",   "openat",    "creat",   "write",   "writev",  "pwrite64", "rename",   "renameat",  "renameat2",
    "link",   "linkat",    "unlink",  "unlinkat", "mkdir",  "mkdirat",  "rmdir",    "symlink",   "symlinkat",
    "chmod",  "fchmod",    "fchmodat", "truncate", "ftruncate", "fsync", "fdatasync", "sync",    "syncfs"};
constexpr int kKilledStatus = 128 + 9;
constexpr int kCountSlack = 16;
const std::string kPackageDirectory = "/flash/rw/pckg/";

std::string callSet() {
  std::string set;
  for (const char* call : kFileChangingCalls) set += (set.empty() ? "" : ",") + std::string(call);
  return set;
}

bool straceWorks(std::string* why) {
  if (std::system("strace -f -o /dev/null true >/dev/null 2>&1") == 0) return true;
  *why = "strace cannot trace here (not installed, or ptrace not permitted); scripts/setup installs it";
  return false;
}

// How often the run makes each file-changing call, from strace's count.
std::vector<std::pair<std::string, int>> countCalls(const std::function<RunResult(const RunInput&)>& run,
                                                    const RunInput& input) {
  ScratchDir scratch;
  RunInput counted = input;
  counted.tracer = {"strace", "-f", "-c", "-o", scratch / "count", "-e", "trace=" + callSet()};
  run(counted);
  std::vector<std::pair<std::string, int>> calls;
  std::istringstream table(readFile(scratch / "count"));
  for (std::string line; std::getline(table, line);) {
    std::istringstream words(line);
    std::vector<std::string> fields;
    for (std::string word; words >> word;) fields.push_back(word);
    // "% time  seconds  usecs/call  calls  [errors]  syscall"
    if (fields.size() < 5 || fields.back() == "total" || fields.back() == "syscall") continue;
    calls.emplace_back(fields.back(), std::atoi(fields[3].c_str()));
  }
  return calls;
}

// One program run to kill, on a board in its old state, and the next run.
struct Scenario {
  const char* name;
  std::function<RunResult(Board&, const RunInput&)> run;
  std::function<RunResult(Board&)> next;
};

class KillPointSweep : public testing::Test {
 protected:
  void SetUp() override {
    Board probe;
    SKIP_WITHOUT_BOARD(probe);
    std::string why;
    if (!straceWorks(&why)) GTEST_SKIP() << why;
    const PackageRecipe tool1{"tool", "1.0",
                              {{"bin/tool", "tool 1"}, {"etc/tool.conf", "level=1\n"}, {"lib/tool/old.so", "old"}},
                              {"--depends", "system", "--image"}};
    // Replaces a file, keeps one, adds two (an empty one, which is staged in
    // /ram and copied across at the commit) and removes one with its
    // directory; a new package besides.
    const PackageRecipe tool2{"tool", "2.0",
                              {{"bin/tool", "tool 2"}, {"etc/tool.conf", "level=1\n"},
                               {"share/tool/data", "data"}, {"share/tool/empty", ""}},
                              {"--depends", "system", "--image", "--description", "the tool"}};
    tool2_ = packageBytes(tool2);
    Board board;
    ASSERT_TRUE(prepare(board));
    ASSERT_TRUE(installByEntry(board, "system", "6.41", {{"bin/system", "system"}}));
    ASSERT_EQ(board.runWithRoot({"-"}, standardInput(packageBytes(tool1))).status, 0);
    ASSERT_TRUE(board.write("/flash/postlog", ""));
    installed_ = board.snapshot();
    ASSERT_TRUE(board.write(kPackageDirectory + "tool-2.0.vpa", tool2_));
    ASSERT_TRUE(board.write(kPackageDirectory + "extra-1.0.vpa",
                            packageBytes({"extra", "1.0", {{"bin/extra", "extra"}}, {"--depends", "tool"}})));
    waiting_ = board.snapshot();
    RunResult safe = board.runWithRoot({"--safe"});
    ASSERT_EQ(safe.status, 0) << safe.out;
    saved_ = board.snapshot();
  }

  // The board's mounts: /ram on a file system of its own, as on the board.
  static bool prepare(Board& board) { return board.mountTmpfs("/ram", 16 << 20) != nullptr; }

  // Kills `scenario` at every kill point on boards in state `old`, runs the
  // next run, and compares with the state an uncut run gives.
  void sweep(const Scenario& scenario, const TreeSnapshot& old, const RunInput& input = RunInput(),
             const std::function<TreeSnapshot(TreeSnapshot)>& normal = [](TreeSnapshot tree) { return tree; }) {
    Board uncut;
    ASSERT_TRUE(prepare(uncut) && restoreSnapshot(uncut, old));
    const auto calls = countCalls([&](const RunInput& counted) { return scenario.run(uncut, counted); }, input);
    ASSERT_FALSE(calls.empty()) << "strace counted no call";
    const TreeSnapshot oldState = normal(withoutPostlog(old));
    Board reference;
    ASSERT_TRUE(prepare(reference) && restoreSnapshot(reference, old));
    RunResult done = scenario.run(reference, input);
    ASSERT_LT(done.status, 128) << done.out;
    const TreeSnapshot newState = normal(withoutPostlog(reference.snapshot()));
    ASSERT_NE(oldState, newState) << "the run changes nothing";
    for (const TreeSnapshot* state : {&oldState, &newState})
      for (const std::string& left : leftovers(*state))
        ASSERT_NE(readFile(reference.path("/ram/MANIFEST")).find(left), std::string::npos) << left;

    SweepTally tally(std::string("kill points, ") + scenario.name);
    for (const auto& [call, count] : calls) {
      // A run may make a few calls more or fewer than the counted one (the
      // spinner redraws by the clock); the count only bounds the sweep.
      for (int n = 1;; ++n) {
        ASSERT_LE(n, count + kCountSlack) << call << " was called far more often than counted";
        Board board;
        ASSERT_TRUE(prepare(board) && restoreSnapshot(board, old));
        RunInput killing = input;
        killing.tracer = {"strace", "-f", "-o", "/dev/null", "-e", "trace=" + call,
                          "-e", "inject=" + call + ":signal=KILL:when=" + std::to_string(n)};
        const RunResult killed = scenario.run(board, killing);
        if (killed.status != kKilledStatus) break;
        const RunResult next = scenario.next(board);
        const TreeSnapshot after = normal(withoutPostlog(board.snapshot()));
        const std::string outcome = after == oldState ? "old" : after == newState ? "new" : "other";
        tally.count(outcome);
        EXPECT_NE(outcome, "other") << "killed at " << call << " #" << n << ", next run status " << next.status
                                    << "\n" << next.out << "against the old state:\n"
                                    << diffSnapshots(oldState, after) << "against the new state:\n"
                                    << diffSnapshots(newState, after);
      }
    }
    tally.print();
  }

  std::string tool2_;
  TreeSnapshot installed_;  // tool 1.0 and its stored image
  TreeSnapshot waiting_;    // and tool 2.0 and extra 1.0 in the package directory
  TreeSnapshot saved_;      // and the transaction of installing them saved by --safe
};

RunResult show(Board& board) { return board.runWithRoot({"--show"}); }

TEST_F(KillPointSweep, AnUpgradeEndsInTheOldStateOrTheNew) {
  sweep({"upgrade", [](Board& board, const RunInput& input) { return board.runWithRoot({}, input); }, show},
        waiting_);
}

TEST_F(KillPointSweep, ImageModeEndsInTheOldStateOrTheNew) {
  sweep({"image mode", [](Board& board, const RunInput& input) { return board.runWithRoot({"-"}, input); }, show},
        installed_, standardInput(tool2_));
}

TEST_F(KillPointSweep, ASaveEndsWithNoManifestOrAWholeOne) {
  sweep({"--safe", [](Board& board, const RunInput& input) { return board.runWithRoot({"--safe"}, input); },
         show},
        waiting_, RunInput(), namedByDestination);
}

// A bundle replaced member by member, one of them starting disabled, while a
// scheduled uninstall takes a package away.
TEST_F(KillPointSweep, ABundleUpgradeWithAScheduledUninstallEndsInTheOldStateOrTheNew) {
  auto suite = [](const char* version, std::vector<std::string> options) {
    const std::string text = std::string("version ") + version + "\n";
    return bundleBytes("suite", version,
                       {{"ospf", version, {{"bin/ospf", text}}, {"--depends", "system"}},
                        {"bgp", version, {{"bin/bgp", text}, {std::string("etc/bgp-") + version, text}}, {}}},
                       options);
  };
  Board board;
  ASSERT_TRUE(prepare(board) && restoreSnapshot(board, installed_));
  ASSERT_EQ(board.runWithRoot({"-"}, standardInput(suite("1.0", {}))).status, 0);
  ASSERT_TRUE(board.write(kPackageDirectory + "suite-2.0.vpa", suite("2.0", {"--start-disabled", "bgp"})));
  ASSERT_TRUE(board.writeSchedule("tool", "uninstall"));
  sweep({"bundle upgrade and scheduled uninstall",
         [](Board& board, const RunInput& input) { return board.runWithRoot({}, input); }, show},
        board.snapshot());
}

TEST_F(KillPointSweep, ACommitEndsInTheOldStateOrTheNew) {
  auto commit = [](Board& board, const RunInput& input) { return board.runInside({"--commit"}, input); };
  sweep({"--commit, then --show", commit, show}, saved_);
  sweep({"--commit, then --commit", commit, [](Board& board) { return board.runInside({"--commit"}); }}, saved_);
}

}  // namespace
