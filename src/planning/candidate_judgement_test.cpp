#include "planning/candidate_judgement.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/flash_devices.h"

namespace {

const Version k10 = makeVersion(1, 0, 'f', 0);
const Version k20 = makeVersion(2, 0, 'f', 0);
const Version k320rc1 = makeVersion(3, 20, 'c', 1);
const Version k320rc2 = makeVersion(3, 20, 'c', 2);
const Version k322 = makeVersion(3, 22, 'f', 0);

using Messages = std::vector<std::string>;

Dependency dep(const std::string& name, Version min = 0) {
  Dependency d;
  d.name = name;
  d.min = min;
  return d;
}

// The board's answers: its minimum system version and its erase size.
class BoardAnswers : public FlashDevices {
 public:
  uint32_t minimum = 0;
  uint32_t eraseSize = 0x20000;

  bool mtdEraseSize(uint32_t* size) override {
    *size = eraseSize;
    return true;
  }
  bool flashVariantRequest(int*) override { return false; }
  uint32_t flashMinimumVersion() override { return minimum; }
};

class Judgement : public ::testing::Test {
 protected:
  Judgement() : scoped_(&board) { repository.architecture = "powerpc"; }

  Package& install(const std::string& name, Version version = k10, bool disabled = false) {
    repository.packages.push_back(std::make_unique<Package>(name));
    Package& package = *repository.packages.back();
    package.version = version;
    package.buildTime = 100;
    package.disabled = disabled;
    return package;
  }

  static std::unique_ptr<Package> candidate(const std::string& name, Version version = k20) {
    auto package = std::make_unique<Package>(name);
    package->version = version;
    package->buildTime = 200;
    package->architecture = "powerpc";
    return package;
  }

  // A candidate that lives as long as the test.
  std::unique_ptr<Package>& ownCandidate(const std::string& name, Version version = k20) {
    candidates_.push_back(candidate(name, version));
    return candidates_.back();
  }

  Repository repository;
  BoardAnswers board;

 private:
  ScopedFlashDevices scoped_;
  std::vector<std::unique_ptr<Package>> candidates_;
};

TEST_F(Judgement, NewerCandidateWithEverythingPresentIsAnUpgradeAndSilent) {
  install("tools", k10);
  install("base");
  Package& x = *ownCandidate("tools", k20);
  x.depends = {dep("base")};
  EXPECT_EQ(judgeCandidate(repository, x, InstallFlags::Upgrade), InstallFlags::Upgrade);
  EXPECT_TRUE(repository.messages.empty());
}

TEST_F(Judgement, InstalledComparisonGivesOneReasonAndAWarningUnlessPermitted) {
  struct Case {
    Version version;
    uint32_t buildTime;
    InstallFlags permitted;
    InstallFlags reasons;
    Messages messages;
  };
  const Case cases[] = {
      {k10,
       100,
       InstallFlags::Upgrade,
       InstallFlags::Downgrade,
       {"WARNING: omitting package tools-1.0: newer package tools-2.0 is already installed"}},
      {k10, 100, InstallFlags::Upgrade | InstallFlags::Downgrade, InstallFlags::Downgrade, {}},
      {k20,
       100,
       InstallFlags::Upgrade,
       InstallFlags::Reinstall,
       {"WARNING: omitting package tools-2.0: it is already installed"}},
      {k20, 100, InstallFlags::Upgrade | InstallFlags::Reinstall, InstallFlags::Reinstall, {}},
      {k20,
       99,
       InstallFlags::Upgrade,
       InstallFlags::Downgrade,  // same version, older build
       {"WARNING: omitting package tools-2.0: newer package tools-2.0 is already installed"}},
      {k20, 101, InstallFlags::Upgrade, InstallFlags::Upgrade, {}},
  };
  install("tools", k20);
  for (const Case& c : cases) {
    repository.messages.clear();
    Package& x = *ownCandidate("tools", c.version);
    x.buildTime = c.buildTime;
    EXPECT_EQ(judgeCandidate(repository, x, c.permitted), c.reasons) << versionText(c.version) << " " << c.buildTime;
    EXPECT_EQ(repository.messages, c.messages);
  }
}

TEST_F(Judgement, AtMostOneMessageButEveryReason) {
  board.minimum = k322;
  install("system", k322);
  Package& other = install("router");
  other.conflicts = {dep("system")};
  Package& x = *ownCandidate("system", k320rc1);  // older, below the minimum
  x.architecture = "i386";
  x.depends = {dep("missing")};

  EXPECT_EQ(judgeCandidate(repository, x, InstallFlags::Upgrade),
            InstallFlags::Downgrade | InstallFlags::Unmet | InstallFlags::Conflict);
  EXPECT_EQ(repository.messages,
            (Messages{"WARNING: omitting package system-3.20rc1: newer package system-3.22 is already installed"}));

  // With the downgrade permitted the next reason speaks.
  repository.messages.clear();
  EXPECT_EQ(judgeCandidate(repository, x, InstallFlags::Upgrade | InstallFlags::Downgrade),
            InstallFlags::Downgrade | InstallFlags::Unmet | InstallFlags::Conflict);
  EXPECT_EQ(repository.messages, (Messages{"ERROR: omitting package system-3.20rc1: min Veltra version is 3.22"}));

  // Requirement failures permitted: the conflict is reported.
  repository.messages.clear();
  EXPECT_EQ(judgeCandidate(repository, x, InstallFlags::Upgrade | InstallFlags::Downgrade | InstallFlags::Unmet),
            InstallFlags::Downgrade | InstallFlags::Unmet | InstallFlags::Conflict);
  EXPECT_EQ(repository.messages, (Messages{"ERROR: can not install system-3.20rc1: it conflicts with router-1.0"}));

  // Everything permitted: silence, and still every reason.
  repository.messages.clear();
  const InstallFlags all = InstallFlags::Upgrade | InstallFlags::Downgrade | InstallFlags::Unmet |
                           InstallFlags::Conflict | InstallFlags::Reinstall;
  EXPECT_EQ(judgeCandidate(repository, x, all), InstallFlags::Downgrade | InstallFlags::Unmet | InstallFlags::Conflict);
  EXPECT_TRUE(repository.messages.empty());
}

TEST_F(Judgement, ArchitectureMustMatchUnlessTheCandidateHasNone) {
  struct Case {
    std::string architecture;
    InstallFlags reasons;
    Messages messages;
  };
  const Case cases[] = {
      {"powerpc", InstallFlags::None, {}},
      {"", InstallFlags::None, {}},
      {"i386", InstallFlags::Unmet, {"ERROR: can not install tools-2.0: it is not made for powerpc, but for i386"}},
      {"PowerPC",
       InstallFlags::Unmet,
       {"ERROR: can not install tools-2.0: it is not made for powerpc, but for PowerPC"}},
  };
  for (const Case& c : cases) {
    repository.messages.clear();
    Package& x = *ownCandidate("tools");
    x.architecture = c.architecture;
    EXPECT_EQ(judgeCandidate(repository, x, InstallFlags::Upgrade), c.reasons) << c.architecture;
    EXPECT_EQ(repository.messages, c.messages);
  }
}

TEST_F(Judgement, DependencyNeedsAnEnabledRealProvider) {
  Package& disabled = install("net", k20, true);
  Package& placeholder = install("net");
  placeholder.version = placeholder.buildTime = kPlaceholderMark;
  install("net", k10);  // enabled but too old for the dependency below
  Package& x = *ownCandidate("tools");
  x.depends = {dep("base"), dep("net", k20)};
  install("base");

  EXPECT_EQ(judgeCandidate(repository, x, InstallFlags::Upgrade), InstallFlags::Unmet);
  EXPECT_EQ(repository.messages,
            (Messages{"ERROR: can not install tools-2.0: net-2.0 is not installed, but is required"}));

  disabled.disabled = false;
  repository.messages.clear();
  EXPECT_EQ(judgeCandidate(repository, x, InstallFlags::Upgrade), InstallFlags::None);
  EXPECT_TRUE(repository.messages.empty());

  // A provides entry serves as well.
  disabled.name = "net-ng";
  disabled.provides = {dep("net", k20)};
  EXPECT_EQ(judgeCandidate(repository, x, InstallFlags::Upgrade), InstallFlags::None);
}

TEST_F(Judgement, ConflictWithAnEnabledPackageOnly) {
  Package& q = install("firewall", k10, true);
  q.conflicts = {dep("tools")};
  Package& x = *ownCandidate("tools");
  EXPECT_EQ(judgeCandidate(repository, x, InstallFlags::Upgrade), InstallFlags::None);

  q.disabled = false;
  EXPECT_EQ(judgeCandidate(repository, x, InstallFlags::Upgrade), InstallFlags::Conflict);
  EXPECT_EQ(repository.messages, (Messages{"ERROR: can not install tools-2.0: it conflicts with firewall-1.0"}));
  repository.messages.clear();
  EXPECT_EQ(judgeCandidate(repository, x, InstallFlags::Upgrade | InstallFlags::Conflict), InstallFlags::Conflict);
  EXPECT_TRUE(repository.messages.empty());
}

TEST_F(Judgement, DeviceMinimumRefusesOldSystemPackagesUnlessOptionIsInstalled) {
  board.minimum = k322;
  struct Case {
    std::string name;
    Version version;
    bool withOption;
    InstallFlags reasons;
    Messages messages;
  };
  const Case cases[] = {
      {"system", k20, false, InstallFlags::Unmet, {"ERROR: omitting package system-2.0: min Veltra version is 3.22"}},
      {"veltra-base",
       k20,
       false,
       InstallFlags::Unmet,
       {"ERROR: omitting package veltra-base-2.0: min Veltra version is 3.22"}},
      {"system", k322, false, InstallFlags::None, {}},
      {"system", k20, true, InstallFlags::None, {}},
      {"tools", k20, false, InstallFlags::None, {}},  // only system packages are checked
      {"velt", k20, false, InstallFlags::None, {}},
  };
  for (const Case& c : cases) {
    Repository local;
    local.architecture = "powerpc";
    if (c.withOption) local.packages.push_back(std::make_unique<Package>("option"));
    Package& x = *ownCandidate(c.name, c.version);
    EXPECT_EQ(judgeCandidate(local, x, InstallFlags::Upgrade), c.reasons) << c.name << " " << c.withOption;
    EXPECT_EQ(local.messages, c.messages);
    EXPECT_EQ(checkSystemRequirements(local, x, false), c.version >= k322 || c.withOption);
  }
}

TEST_F(Judgement, LargeEraseBlocksRefuseSystemsOlderThan320rc2) {
  struct Case {
    uint32_t eraseSize;
    Version version;
    bool accepted;
  };
  for (const Case c : {Case{0x40000, k320rc1, false}, Case{0x40000, k320rc2, true}, Case{0x20000, k320rc1, true}}) {
    board.eraseSize = c.eraseSize;
    repository.messages.clear();
    Package& x = *ownCandidate("system", c.version);
    EXPECT_EQ(checkSystemRequirements(repository, x, true), c.accepted) << c.eraseSize << " " << c.version;
    if (c.accepted) {
      EXPECT_TRUE(repository.messages.empty());
    } else {
      EXPECT_EQ(repository.messages,
                (Messages{"WARNING: omitting package system-3.20rc1: it does not support current file system"}));
    }
  }
  // The option package does not lift this one.
  board.eraseSize = 0x40000;
  install("option");
  EXPECT_FALSE(checkSystemRequirements(repository, *candidate("system", k320rc1), false));
}

}  // namespace
