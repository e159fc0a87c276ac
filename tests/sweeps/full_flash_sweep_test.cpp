// Full-flash sweep: /flash and /flash/boot on small tmpfs mounts whose sizes
// step page by page through the range where an upgrade, image mode, and
// --commit of a saved manifest stop fitting, with /ram on a tmpfs of its own,
// so that files staged there for want of room are copied across at the
// commit; then /ram itself stepped through the sizes where such a file stops
// fitting there. Every run ends with the whole new state and status 0, or in
// the old state with the documented failure.

#include <gtest/gtest.h>
#include <sys/statfs.h>

#include <functional>
#include <string>
#include <vector>

#include "support/scratch_dir.h"
#include "sweeps/sweep.h"

namespace {

constexpr size_t kPage = 4096;
constexpr size_t kRoomyFlash = 8 << 20;
constexpr size_t kRoomyBoot = 1 << 20;
constexpr size_t kRam = 16 << 20;
const std::string kCandidate = "/flash/rw/pckg/tool-2.0.vpa";
const char* const kFlashDirs[] = {"/flash/var", "/flash/var/pdb", "/flash/rw", "/flash/rw/pckg", "/flash/var/pckg",
                                  "/flash/boot"};

enum class Mode { Upgrade, ImageMode, Commit };

struct Sizes {
  size_t flash;
  size_t boot;
  size_t ram;
};

size_t usedBytes(const std::string& path) {
  struct statfs info;
  return ::statfs(path.c_str(), &info) == 0 ? (info.f_blocks - info.f_bfree) * info.f_bsize : 0;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class FullFlashSweep : public testing::TestWithParam<Mode> {
 protected:
  void SetUp() override {
    Board probe;
    SKIP_WITHOUT_BOARD(probe);
    // The new version adds a file, then replaces one of 300 KiB by one of
    // 320 KiB, compressible so that image mode's copy of the stream stays
    // small: with less than 352 KiB free it is staged in /ram, and from 320
    // KiB up it is copied across at the commit. It replaces a file on
    // /flash/boot, removes one and keeps a stored image.
    candidate_ = packageBytes({"tool", "2.0",
                               {{"bin/aux", incompressibleBytes(8 << 10)},
                                {"bin/tool", std::string(320 << 10, 'n')},
                                {"boot/tool.bin", incompressibleBytes(20 << 10)}},
                               {"--depends", "system", "--image"}});
  }

  // A board whose flash and boot area have the given sizes, holding the old
  // state (and, but for image mode, the new package waiting).
  bool prepare(Board& board, Sizes sizes) {
    if (!board.mountTmpfs("/flash", sizes.flash) || !board.mountTmpfs("/ram", sizes.ram)) return false;
    for (const char* dir : kFlashDirs) ::mkdir(board.path(dir).c_str(), 0755);
    if (!board.mountTmpfs("/flash/boot", sizes.boot)) return false;
    ::mkdir(board.path("/ram/pdb").c_str(), 0755);
    return installByEntry(board, "system", "6.41", {{"bin/system", "system"}}) &&
           installByEntry(board, "tool", "1.0",
                          {{"bin/tool", std::string(300 << 10, 'o')},
                           {"lib/tool/old.so", incompressibleBytes(16 << 10)},
                           {"boot/tool.bin", incompressibleBytes(4 << 10)}}) &&
           (GetParam() == Mode::ImageMode || board.write(kCandidate, candidate_));
  }

  // Runs the mode on a prepared board; for --commit, a saved --safe run is
  // part of the old state, unless it found no room itself.
  RunResult run(Board& board, TreeSnapshot* old) {
    *old = board.snapshot();
    switch (GetParam()) {
      case Mode::Upgrade:
        return board.runWithRoot({});
      case Mode::ImageMode:
        return board.runWithRoot({"-"}, standardInput(candidate_));
      case Mode::Commit: {
        RunResult safe = board.runWithRoot({"--safe"});
        if (safe.status != 0 || !pathExists(board.path("/ram/MANIFEST"))) return safe;
        *old = board.snapshot();
        return board.runInside({"--commit"});
      }
    }
    return RunResult();
  }

  // The documented failure a run that left the old state reported, or empty:
  // an upgrade (and the --safe run before a --commit) that finds no room, or
  // whose staged files do not fit, image mode that cannot place or keep its
  // files, a --commit that cannot place its files.
  std::string documentedFailure(const RunResult& run) const {
    struct Failure {
      bool inMode;
      int status;
      const char* message;
      const char* label;
    };
    const bool upgrade = GetParam() != Mode::ImageMode, image = GetParam() == Mode::ImageMode;
    const Failure failures[] = {
        {upgrade, 28, "ERROR: not enough space for upgrade\n", "no space for upgrade"},
        {upgrade, 0, "ERROR: installation of tool-2.0 failed: disk is too small\n", "disk is too small"},
        {image, 1, "ERROR: installation of tool-2.0 failed: disk is too small\n", "disk is too small"},
        {image, 28, ": No space left on device\n", "no space for the commit"},
        {image, 255, "ERROR: could not write image\n", "could not write image"},
        {GetParam() == Mode::Commit, 28, ": No space left on device: nothing was changed\n", "no space for the commit"},
        {GetParam() == Mode::Commit, 1, "ERROR: could not save /ram/MANIFEST\n", "could not save the manifest"},
    };
    for (const Failure& failure : failures)
      if (failure.inMode && run.status == failure.status && contains(run.out, failure.message))
        return std::string(failure.label) + " [" + std::to_string(run.status) + "]";
    return std::string();
  }

  // The manifest names where each file was staged, which depends on the
  // room there was; the commit never changes it.
  static TreeSnapshot withoutManifest(TreeSnapshot tree) {
    tree.erase("/ram/MANIFEST");
    return tree;
  }

  // Steps one size through [from, to) and checks every run.
  void sweep(const char* what, size_t from, size_t to, const std::function<Sizes(size_t)>& sizes,
             const TreeSnapshot& newState) {
    static const char* const kModes[] = {"upgrade", "image mode", "--commit"};
    SweepTally tally(std::string("full flash, ") + kModes[int(GetParam())] + ", " + what + " " +
                     std::to_string(from / 1024) + "-" + std::to_string(to / 1024) + " KiB");
    for (size_t size = from; size < to; size += kPage) {
      Board board;
      ASSERT_TRUE(prepare(board, sizes(size))) << board.whyUnusable() << " at " << size;
      TreeSnapshot old;
      const RunResult result = run(board, &old);
      const TreeSnapshot after = board.snapshot();
      std::string outcome = "other", detail;
      if (result.status == 0 && withoutManifest(withoutPostlog(after)) == newState) {
        outcome = "new";
        for (const auto& [path, entry] : old)
          if (path.rfind("/ram/tmp", 0) == 0) detail = "copied from /ram";
      } else if (withoutPostlog(after) == withoutPostlog(old) && !documentedFailure(result).empty()) {
        outcome = "old";
        detail = documentedFailure(result);
      }
      if (GetParam() == Mode::Commit && after.count("/ram/MANIFEST") &&
          after.at("/ram/MANIFEST") != old["/ram/MANIFEST"])
        outcome = "other";
      tally.count(outcome, detail);
      EXPECT_NE(outcome, "other") << what << " of " << size << " bytes, status " << result.status << "\n"
                                  << result.out << "against the old state:\n"
                                  << diffSnapshots(withoutPostlog(old), withoutPostlog(after))
                                  << "against the new state:\n"
                                  << diffSnapshots(newState, withoutManifest(withoutPostlog(after)));
    }
    tally.print();
  }

  std::string candidate_;
};

TEST_P(FullFlashSweep, EveryRunEndsInTheWholeNewStateOrTheOldWithItsFailure) {
  // The new state and the room the old one takes, on roomy mounts.
  Board roomy;
  ASSERT_TRUE(prepare(roomy, {kRoomyFlash, kRoomyBoot, kRam})) << roomy.whyUnusable();
  const size_t flashUsed = usedBytes(roomy.path("/flash")), bootUsed = usedBytes(roomy.path("/flash/boot"));
  TreeSnapshot old;
  const RunResult done = run(roomy, &old);
  ASSERT_EQ(done.status, 0) << done.out;
  const TreeSnapshot newState = withoutManifest(withoutPostlog(roomy.snapshot()));
  for (const std::string& left : leftovers(newState)) ADD_FAILURE() << "left over: " << left;

  // From no room at all to far more than the new files take with their
  // staged copies, the stored image and the reserve of 16 blocks.
  const size_t growth = 2 * ((328 << 10) + candidate_.size()) + 32 * kPage;
  sweep("/flash", flashUsed + kPage, flashUsed + growth,
        [](size_t size) { return Sizes{size, kRoomyBoot, kRam}; }, newState);
  sweep("/flash/boot", bootUsed + kPage, bootUsed + (48 << 10) + 32 * kPage,
        [](size_t size) { return Sizes{kRoomyFlash, size, kRam}; }, newState);
  // A flash with room for the large file (in image mode, with the copy of
  // the stream beside it), but not for it and a tenth: it is staged in /ram,
  // where it may not fit either.
  const size_t flash = flashUsed + (GetParam() == Mode::ImageMode ? 364 << 10 : 344 << 10);
  sweep("/ram", kPage, 400 << 10, [flash](size_t size) { return Sizes{flash, kRoomyBoot, size}; }, newState);
}

std::string modeName(const testing::TestParamInfo<Mode>& info) {
  return info.param == Mode::Upgrade ? "Upgrade" : info.param == Mode::ImageMode ? "ImageMode" : "Commit";
}

INSTANTIATE_TEST_SUITE_P(Modes, FullFlashSweep, testing::Values(Mode::Upgrade, Mode::ImageMode, Mode::Commit),
                         modeName);

}  // namespace
