#include "model/repository.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "model/relations.h"

namespace {

const Version k640 = makeVersion(6, 40, 'f', 0);
const Version k641 = makeVersion(6, 41, 'f', 0);

Package& add(Repository& repository, const std::string& name, bool disabled = false,
             PackageAction action = PackageAction::None) {
  auto package = std::make_unique<Package>(name);
  package->version = k640;
  package->buildTime = 100;
  package->disabled = disabled;
  package->action = action;
  repository.packages.push_back(std::move(package));
  return *repository.packages.back();
}

const char* actionName(PackageAction action) {
  static const char* const names[] = {"None", "Uninstall", "Enable", "Disable"};
  return names[static_cast<uint32_t>(action)];
}

TEST(Repository, LookupsTakeTheFirstOfANameInInsertionOrder) {
  Repository repository;
  EXPECT_EQ(repository.indexOf("ppp"), -1);
  EXPECT_EQ(repository.find("ppp"), nullptr);

  add(repository, "system");
  Package& first = add(repository, "ppp");
  add(repository, "ppp");
  EXPECT_EQ(repository.indexOf("ppp"), 1);
  EXPECT_EQ(repository.find("ppp"), &first);
  EXPECT_EQ(repository.indexOf("PPP"), -1);
  EXPECT_EQ(repository.indexOf("pp"), -1);
}

TEST(Repository, FindProviderTakesAnEnabledMatchElseTheLastDisabledOne) {
  Repository repository;
  add(repository, "wireless", true);
  add(repository, "other");
  Package& lastDisabled = add(repository, "wlan-compat", true);
  lastDisabled.provides = {Dependency{"wireless", k640, k641}};
  EXPECT_EQ(repository.findProvider("wireless"), &lastDisabled);
  EXPECT_EQ(repository.findProvider("missing"), nullptr);

  // An enabled package after disabled ones wins, by its name or by any
  // provided name whatever its range.
  Package& provider = add(repository, "radio-compat");
  provider.provides = {Dependency{"radio", 0, 0, 1}, Dependency{"wireless", k641, k641, -1}};
  Package& named = add(repository, "wireless");
  EXPECT_EQ(repository.findProvider("wireless"), &provider);
  EXPECT_EQ(repository.findProvider("radio-compat"), &provider);
  EXPECT_EQ(repository.findProvider("wlan"), nullptr);
  provider.disabled = true;
  EXPECT_EQ(repository.findProvider("wireless"), &named);
}

// The installed package is the one asked, and only enabled ones are.
TEST(Repository, FindConflictingAsksTheFirstEnabledInstalledPackage) {
  Repository repository;
  Package candidate("ppp");
  candidate.version = k641;
  candidate.conflicts = {Dependency{"pptp"}};  // declared by the candidate only
  add(repository, "pptp");
  add(repository, "pppoe", true).conflicts = {Dependency{"ppp"}};
  add(repository, "system");
  EXPECT_EQ(repository.findConflicting(candidate), nullptr);

  Package& enabledOne = add(repository, "pptp2");
  enabledOne.conflicts = {Dependency{"ppp"}};
  add(repository, "l2tp").conflicts = {Dependency{"ppp"}};
  EXPECT_EQ(repository.findConflicting(candidate), &enabledOne);
}

TEST(Repository, AnyStaysActive) {
  struct Case {
    bool disabled;
    PackageAction action;
    bool expected;
  } const cases[] = {
      {false, PackageAction::None, true},       {false, PackageAction::Enable, true},
      {true, PackageAction::Enable, true},      {false, PackageAction::Disable, false},
      {false, PackageAction::Uninstall, false}, {true, PackageAction::None, false},
      {true, PackageAction::Disable, false},    {true, PackageAction::Uninstall, false},
  };
  for (const Case& c : cases) {
    Repository repository;
    add(repository, "gone", false, PackageAction::Uninstall);
    add(repository, "x", c.disabled, c.action);
    EXPECT_EQ(repository.anyStaysActive(), c.expected)
        << (c.disabled ? "disabled " : "enabled ") << actionName(c.action);
  }
  EXPECT_FALSE(Repository().anyStaysActive());
}

TEST(Repository, PropagateBundleActionsReachesTheMembers) {
  struct Case {
    PackageAction bundleAction;
    bool memberDisabled;
    PackageAction memberAction;
    PackageAction expected;
  } const cases[] = {
      {PackageAction::Disable, false, PackageAction::None, PackageAction::Disable},
      {PackageAction::Disable, false, PackageAction::Enable, PackageAction::Disable},
      {PackageAction::Disable, true, PackageAction::Uninstall, PackageAction::Uninstall},
      {PackageAction::Uninstall, false, PackageAction::None, PackageAction::Uninstall},
      {PackageAction::Uninstall, true, PackageAction::Disable, PackageAction::Uninstall},
      {PackageAction::Enable, true, PackageAction::None, PackageAction::Enable},
      {PackageAction::Enable, true, PackageAction::Disable, PackageAction::Enable},
      {PackageAction::Enable, false, PackageAction::None, PackageAction::None},
      {PackageAction::Enable, false, PackageAction::Disable, PackageAction::Disable},
      {PackageAction::None, true, PackageAction::None, PackageAction::None},
      {PackageAction::None, false, PackageAction::Uninstall, PackageAction::Uninstall},
  };
  for (const Case& c : cases) {
    Repository repository;
    Package& member = add(repository, "ppp", c.memberDisabled, c.memberAction);
    member.bundle = Dependency{"base", k640, k640};
    Package& bundle = add(repository, "base", false, c.bundleAction);
    bundle.isBundle = true;
    Package& loose = add(repository, "dhcp", c.memberDisabled, c.memberAction);

    repository.propagateBundleActions();
    EXPECT_EQ(member.action, c.expected)
        << "bundle " << actionName(c.bundleAction) << ", member "
        << (c.memberDisabled ? "disabled " : "enabled ") << actionName(c.memberAction);
    EXPECT_EQ(loose.action, c.memberAction);
    EXPECT_EQ(bundle.action, c.bundleAction);
  }
}

TEST(Repository, PropagateBundleActionsIgnoresAMissingBundle) {
  Repository repository;
  Package& member = add(repository, "ppp", true);
  member.bundle = Dependency{"base"};
  add(repository, "other", false, PackageAction::Uninstall);
  repository.propagateBundleActions();
  EXPECT_EQ(member.action, PackageAction::None);
}

struct MemberState {
  bool disabled;
  PackageAction action;
};

struct SettleCase {
  const char* what;
  bool bundleDisabled;
  PackageAction bundleAction;
  std::vector<MemberState> members;
  PackageAction expected;
};

TEST(Repository, SettleBundlesMakesBundlesFollowTheirMembers) {
  const SettleCase cases[] = {
      {"enabled member without action keeps it",
       false,
       PackageAction::None,
       {{false, PackageAction::Uninstall}, {false, PackageAction::None}},
       PackageAction::None},
      {"enabled member being enabled keeps it",
       false,
       PackageAction::None,
       {{false, PackageAction::Enable}},
       PackageAction::None},
      {"disabled member being enabled keeps it",
       true,
       PackageAction::Enable,
       {{true, PackageAction::Enable}},
       PackageAction::Enable},
      {"every member disabled: enabled bundle goes",
       false,
       PackageAction::None,
       {{false, PackageAction::Disable}, {true, PackageAction::None}},
       PackageAction::Uninstall},
      {"every member uninstalled",
       false,
       PackageAction::None,
       {{false, PackageAction::Uninstall}, {true, PackageAction::Uninstall}},
       PackageAction::Uninstall},
      {"no members at all", false, PackageAction::Enable, {}, PackageAction::Uninstall},
      {"disabled bundle with disabled members stays",
       true,
       PackageAction::None,
       {{true, PackageAction::None}, {true, PackageAction::Disable}},
       PackageAction::None},
      {"disabled bundle loses its enable",
       true,
       PackageAction::Enable,
       {{true, PackageAction::None}},
       PackageAction::None},
      {"disabled bundle keeps a disable",
       true,
       PackageAction::Disable,
       {{true, PackageAction::Disable}},
       PackageAction::Disable},
      {"disabled bundle with members gone",
       true,
       PackageAction::Disable,
       {{true, PackageAction::Uninstall}},
       PackageAction::Uninstall},
      {"bundle already being uninstalled",
       false,
       PackageAction::Uninstall,
       {{false, PackageAction::None}},
       PackageAction::Uninstall},
  };
  for (const SettleCase& c : cases) {
    Repository repository;
    Package& bundle = add(repository, "base", c.bundleDisabled, c.bundleAction);
    bundle.isBundle = true;
    for (const MemberState& state : c.members) {
      add(repository, "member", state.disabled, state.action).bundle = Dependency{"base", k640, k640};
    }
    repository.settleBundles();
    EXPECT_EQ(bundle.action, c.expected) << c.what;
  }
}

TEST(Repository, SettleBundlesCountsNeitherPlaceholdersNorOtherBundlesMembers) {
  Repository repository;
  Package& bundle = add(repository, "base");
  bundle.isBundle = true;
  Package& placeholder = add(repository, "ppp");
  placeholder.version = kPlaceholderMark;
  placeholder.buildTime = kPlaceholderMark;
  placeholder.bundle = Dependency{"base"};
  add(repository, "dhcp").bundle = Dependency{"extras"};
  Package& notABundle = add(repository, "system");  // members naming it do not matter
  add(repository, "ntp").bundle = Dependency{"system"};

  repository.settleBundles();
  EXPECT_EQ(bundle.action, PackageAction::Uninstall);
  EXPECT_EQ(notABundle.action, PackageAction::None);
}

}  // namespace
