#include "model/repository.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "model/relations.h"

namespace {

const Version k640 = makeVersion(6, 40, 'f', 0);
const Version k641 = makeVersion(6, 41, 'f', 0);

Package& add(Repository& repository, const std::string& name, bool disabled = false,
             PackageAction action = None) {
  auto package = std::make_unique<Package>(name);
  package->version = k640;
  package->buildTime = 100;
  package->disabled = disabled;
  package->action = action;
  repository.packages.push_back(std::move(package));
  return *repository.packages.back();
}

Dependency dep(const std::string& name, Version min = 0, Version max = 0, int32_t priority = 0) {
  Dependency d;
  d.name = name;
  d.min = min;
  d.max = max;
  d.priority = priority;
  return d;
}

const char* actionName(PackageAction action) {
  static const char* const names[] = {"None", "Uninstall", "Enable", "Disable"};
  return names[action];
}

TEST(PackageActionWords, AreIndexedByTheAction) {
  EXPECT_STREQ(kPackageActionWords[None], "");
  EXPECT_STREQ(kPackageActionWords[Uninstall], "uninstall");
  EXPECT_STREQ(kPackageActionWords[Enable], "enable");
  EXPECT_STREQ(kPackageActionWords[Disable], "disable");
}

TEST(Repository, InstanceIsOneObject) {
  EXPECT_EQ(&Repository::instance(), &Repository::instance());
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

TEST(Repository, FindProviderPrefersAnEnabledMatchAfterADisabledOne) {
  Repository repository;
  add(repository, "wireless", true);
  Package& enabled = add(repository, "wireless");
  EXPECT_EQ(repository.findProvider("wireless"), &enabled);
}

TEST(Repository, FindProviderFallsBackToTheLastDisabledMatch) {
  Repository repository;
  add(repository, "wireless", true);
  add(repository, "other");
  Package& last = add(repository, "wlan-compat", true);
  last.provides = {dep("wireless", k640, k641)};
  EXPECT_EQ(repository.findProvider("wireless"), &last);
  EXPECT_EQ(repository.findProvider("missing"), nullptr);
}

TEST(Repository, FindProviderMatchesProvidedNamesOfAnyRange) {
  Repository repository;
  add(repository, "system");
  Package& provider = add(repository, "wlan-compat");
  provider.provides = {dep("radio", 0, 0, 1), dep("wireless", k641, k641, -1)};
  EXPECT_EQ(repository.findProvider("wireless"), &provider);
  EXPECT_EQ(repository.findProvider("wlan"), nullptr);
}

TEST(Repository, FindConflictingSkipsDisabledPackages) {
  Repository repository;
  Package candidate("ppp");
  candidate.version = k641;

  Package& disabledOne = add(repository, "pppoe", true);
  disabledOne.conflicts = {dep("ppp")};
  add(repository, "system");
  EXPECT_EQ(repository.findConflicting(candidate), nullptr);

  Package& enabledOne = add(repository, "pptp");
  enabledOne.conflicts = {dep("ppp")};
  Package& later = add(repository, "l2tp");
  later.conflicts = {dep("ppp")};
  EXPECT_EQ(repository.findConflicting(candidate), &enabledOne);
}

TEST(Repository, FindConflictingAsksTheInstalledPackageFirst) {
  // Only the candidate declares the conflict: the installed package is the
  // one asked, so nothing is found.
  Repository repository;
  add(repository, "pptp");
  Package candidate("ppp");
  candidate.conflicts = {dep("pptp")};
  EXPECT_EQ(repository.findConflicting(candidate), nullptr);
}

TEST(Repository, AnyStaysActive) {
  struct Case {
    bool disabled;
    PackageAction action;
    bool expected;
  } const cases[] = {
      {false, None, true},       {false, Enable, true},     {true, Enable, true},
      {false, Disable, false},   {false, Uninstall, false}, {true, None, false},
      {true, Disable, false},    {true, Uninstall, false},
  };
  for (const Case& c : cases) {
    Repository repository;
    add(repository, "gone", false, Uninstall);
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
      {Disable, false, None, Disable},        {Disable, false, Enable, Disable},
      {Disable, true, Uninstall, Uninstall},  {Uninstall, false, None, Uninstall},
      {Uninstall, true, Disable, Uninstall},  {Enable, true, None, Enable},
      {Enable, true, Disable, Enable},        {Enable, false, None, None},
      {Enable, false, Disable, Disable},      {None, true, None, None},
      {None, false, Uninstall, Uninstall},
  };
  for (const Case& c : cases) {
    Repository repository;
    Package& member = add(repository, "ppp", c.memberDisabled, c.memberAction);
    member.bundle = dep("routeros", k640, k640);
    Package& bundle = add(repository, "routeros", false, c.bundleAction);
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
  member.bundle = dep("routeros");
  add(repository, "other", false, Uninstall);
  repository.propagateBundleActions();
  EXPECT_EQ(member.action, None);
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
      {"enabled member without action keeps it", false, None, {{false, Uninstall}, {false, None}}, None},
      {"enabled member being enabled keeps it", false, None, {{false, Enable}}, None},
      {"disabled member being enabled keeps it", true, Enable, {{true, Enable}}, Enable},
      {"every member disabled: enabled bundle goes", false, None, {{false, Disable}, {true, None}}, Uninstall},
      {"every member uninstalled", false, None, {{false, Uninstall}, {true, Uninstall}}, Uninstall},
      {"no members at all", false, Enable, {}, Uninstall},
      {"disabled bundle with disabled members stays", true, None, {{true, None}, {true, Disable}}, None},
      {"disabled bundle loses its enable", true, Enable, {{true, None}}, None},
      {"disabled bundle keeps a disable", true, Disable, {{true, Disable}}, Disable},
      {"disabled bundle with members gone", true, Disable, {{true, Uninstall}}, Uninstall},
      {"bundle already being uninstalled", false, Uninstall, {{false, None}}, Uninstall},
  };
  for (const SettleCase& c : cases) {
    Repository repository;
    Package& bundle = add(repository, "routeros", c.bundleDisabled, c.bundleAction);
    bundle.isBundle = true;
    for (const MemberState& state : c.members) {
      add(repository, "member", state.disabled, state.action).bundle = dep("routeros", k640, k640);
    }
    repository.settleBundles();
    EXPECT_EQ(bundle.action, c.expected) << c.what;
  }
}

TEST(Repository, SettleBundlesCountsNeitherPlaceholdersNorOtherBundlesMembers) {
  Repository repository;
  Package& bundle = add(repository, "routeros");
  bundle.isBundle = true;
  Package& placeholder = add(repository, "ppp");
  placeholder.version = kPlaceholderMark;
  placeholder.buildTime = kPlaceholderMark;
  placeholder.bundle = dep("routeros");
  add(repository, "dhcp").bundle = dep("extras");
  Package& notABundle = add(repository, "system");  // members naming it do not matter
  add(repository, "ntp").bundle = dep("system");

  repository.settleBundles();
  EXPECT_EQ(bundle.action, Uninstall);
  EXPECT_EQ(notABundle.action, None);
}

}  // namespace
