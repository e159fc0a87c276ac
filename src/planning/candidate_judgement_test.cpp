#include "planning/candidate_judgement.h"

#include <gtest/gtest.h>

#include "platform/flash_devices.h"
#include "support/state_notation.h"

// The board's minimum system version and erase size.
struct BoardAnswers : FlashDevices {
  Version minimum = 0;
  uint32_t eraseSize = 0;
  bool mtdEraseSize(uint32_t* size) override { return *size = eraseSize, true; }
  bool flashVariantRequest(int*) override { return false; }
  uint32_t flashMinimumVersion() override { return minimum; }
};

// Every reason against a candidate, and at most one message: of the first reason not permitted.
TEST(Judgement, GivesEveryReasonAndTellsTheFirstNotPermitted) {
  constexpr InstallFlags U = InstallFlags::Upgrade, D = InstallFlags::Downgrade, R = InstallFlags::Reinstall,
                         N = InstallFlags::Unmet, C = InstallFlags::Conflict;
  const std::pair<InstallFlags, const char*> words[] = {
      {U, "upgrade"}, {D, "downgrade"}, {R, "reinstall"}, {N, "unmet"}, {C, "conflict"}};
  struct {
    const char *installed, *candidate;
    InstallFlags permitted;
    const char *reasons, *architecture = "", *minimum = "";
    uint32_t eraseSize = 0x20000;
  } const cases[] = {
      {"tools 1.0; base 1.0", "tools 2.0 >base", U, "upgrade"},
      {"tools 2.0", "tools 1.0", U,
       "downgrade | WARNING: omitting package tools-1.0: newer package tools-2.0 is already installed"},
      {"tools 2.0", "tools 1.0", U | D, "downgrade"}, {"tools 2.0", "tools 2.0", U | R, "reinstall"},
      {"tools 2.0", "tools 2.0", U, "reinstall | WARNING: omitting package tools-2.0: it is already installed"},
      {"system 3.22; router 1.0 !system", "system 3.20rc1 >missing", U, "downgrade unmet conflict | WARNING: omitting "
       "package system-3.20rc1: newer package system-3.22 is already installed", "arm", "3.22"},
      {"system 3.22; router 1.0 !system", "system 3.20rc1 >missing", U | D,
       "downgrade unmet conflict | ERROR: omitting package system-3.20rc1: min Veltra version is 3.22", "arm", "3.22"},
      {"system 3.22; router 1.0 !system", "system 3.20rc1 >missing", U | D | N,
       "downgrade unmet conflict | ERROR: can not install system-3.20rc1: it conflicts with router-1.0", "arm", "3.22"},
      {"system 3.22; router 1.0 !system", "system 3.20rc1 >missing", U | D | N | C, "downgrade unmet conflict", "arm",
       "3.22"},
      // The architecture must be the system's, unless the candidate names none.
      {"", "tools 2.0", U, "", "powerpc"},
      {"", "tools 2.0", U, "unmet | ERROR: can not install tools-2.0: it is not made for powerpc, but for PowerPC",
       "PowerPC"},
      // Only enabled real packages meet a dependency, by name or by what they provide; the first unmet is told.
      {"net 2.0 disabled; net placeholder; net 1.0; base 1.0", "tools 2.0 >base >net:2.0 >other", U,
       "unmet | ERROR: can not install tools-2.0: net-2.0 is not installed, but is required"},
      {"net 2.0; base 1.0", "tools 2.0 >base >net:2.0", U, ""}, {"net-ng 1.0 +net:2.0", "tools 2.0 >net:2.0", U, ""},
      // The first enabled installed package that names the candidate among its conflicts.
      {"pptp 1.0; pppoe 1.0 disabled !tools; fw 1.0 !tools; l2tp 1.0 !tools", "tools 2.0 !pptp", U,
       "conflict | ERROR: can not install tools-2.0: it conflicts with fw-1.0"},
      // System packages below the board's minimum, unless "option" is installed; before 3.20rc2 where
      // erase blocks are large.
      {"", "system 2.0", U, "unmet | ERROR: omitting package system-2.0: min Veltra version is 3.22", "", "3.22"},
      {"", "veltra-base 2.0", U, "unmet | ERROR: omitting package veltra-base-2.0: min Veltra version is 3.22", "",
       "3.22"},
      {"", "system 3.22", U, "", "", "3.22"}, {"option 1.0", "system 2.0", U, "", "", "3.22"},
      {"", "velt 2.0", U, "", "", "3.22"}, {"", "system 3.20rc1", U, ""},
      {"", "system 3.20rc2", U, "", "", "", 0x40000},
      {"option 1.0", "system 3.20rc1", U,
       "unmet | WARNING: omitting package system-3.20rc1: it does not support current file system", "", "", 0x40000},
  };
  for (const auto& c : cases) {
    BoardAnswers board;
    const ScopedFlashDevices scoped(&board);
    parseVersionText(c.minimum, &board.minimum);
    board.eraseSize = c.eraseSize;
    Repository repository;
    repository.architecture = "powerpc";
    repository.packages = makePackages(c.installed);
    const auto candidate = std::move(makePackages(c.candidate)[0]);
    candidate->architecture = c.architecture;
    const auto [reasons, notices] = judgeCandidate(repository, *candidate, c.permitted);
    std::string result;
    for (const auto& [flag, word] : words)
      if (any(reasons, flag)) result += (result.empty() ? "" : " ") + std::string(word);
    for (const Notice& n : notices) result += (n.error ? " | ERROR: " : " | WARNING: ") + n.text;
    EXPECT_EQ(result, c.reasons) << c.installed << " / " << c.candidate;
  }
}
