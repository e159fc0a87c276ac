#include "planning/action_planning.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

const Version k10 = makeVersion(1, 0, 'f', 0);
const Version k20 = makeVersion(2, 0, 'f', 0);

Dependency dep(const std::string& name, Version min = 0, Version max = 0, int32_t priority = 0) {
  Dependency d;
  d.name = name;
  d.min = min;
  d.max = max;
  d.priority = priority;
  return d;
}

class Planning : public ::testing::Test {
 protected:
  Planning() { repository.quiet = false; }

  Package& add(const std::string& name, bool disabled = false, PackageAction action = PackageAction::None,
               std::vector<Dependency> depends = {}) {
    auto package = std::make_unique<Package>(name);
    package->version = k10;
    package->buildTime = 100;
    package->disabled = disabled;
    package->action = action;
    package->depends = std::move(depends);
    repository.packages.push_back(std::move(package));
    return *repository.packages.back();
  }

  bool plan(bool reporting = true) { return planActions(repository, &removals, &enables, reporting); }

  static std::vector<std::string> names(const std::vector<Package*>& list) {
    std::vector<std::string> result;
    for (const Package* package : list) result.push_back(package->name);
    return result;
  }

  Repository repository;
  std::vector<Package*> removals;
  std::vector<Package*> enables;
};

using Names = std::vector<std::string>;

TEST_F(Planning, FindProvidersLeavesOutPlaceholdersAndDisabledUnlessAsked) {
  add("net");
  add("net", true);
  Package& placeholder = add("net");
  placeholder.version = placeholder.buildTime = kPlaceholderMark;
  Package& compat = add("net-compat");
  compat.provides = {dep("net", k10, k20)};
  add("other");

  EXPECT_EQ(names(findProviders(repository, dep("net"), false)), (Names{"net", "net-compat"}));
  EXPECT_EQ(names(findProviders(repository, dep("net"), true)), (Names{"net", "net", "net-compat"}));
  // Only the provided range reaches 2.0.
  EXPECT_EQ(names(findProviders(repository, dep("net", k20), true)), (Names{"net-compat"}));
}

TEST_F(Planning, DependencyStateCountsEachProviderByStateAndAction) {
  struct Case {
    bool disabled;
    PackageAction action;
    DependencyState alone;
  };
  const Case cases[] = {
      {false, PackageAction::None, DependencyState::Satisfied},
      {false, PackageAction::Enable, DependencyState::Satisfied},
      {false, PackageAction::Disable, DependencyState::DisabledOnly},
      {false, PackageAction::Uninstall, DependencyState::Missing},
      {true, PackageAction::Enable, DependencyState::Satisfied},
      {true, PackageAction::None, DependencyState::DisabledOnly},
      {true, PackageAction::Disable, DependencyState::DisabledOnly},
      {true, PackageAction::Uninstall, DependencyState::DisabledOnly},
  };
  for (const Case& c : cases) {
    Package provider("p");
    provider.disabled = c.disabled;
    provider.action = c.action;
    EXPECT_EQ(dependencyState({&provider}), c.alone) << c.disabled << " " << c.action;

    // A provider that is being uninstalled before it changes nothing.
    Package gone("g");
    gone.action = PackageAction::Uninstall;
    EXPECT_EQ(dependencyState({&gone, &provider}), c.alone) << c.disabled << " " << c.action;
  }
  EXPECT_EQ(dependencyState({}), DependencyState::Missing);
}

TEST_F(Planning, EmptyRepositoryIsAcceptedWithNothingToDo) {
  EXPECT_TRUE(plan());
  EXPECT_TRUE(removals.empty());
  EXPECT_TRUE(enables.empty());
  EXPECT_TRUE(repository.messages.empty());
}

TEST_F(Planning, RemovalOfANeededPackageIsCancelledWithAWarning) {
  for (const auto& [action, warning] :
       {std::pair{PackageAction::Uninstall, "WARNING: can not uninstall x-1.0: y depends on it"},
        std::pair{PackageAction::Disable, "WARNING: can not disable x-1.0: y depends on it"}}) {
    repository.packages.clear();
    repository.messages.clear();
    Package& x = add("x", false, action);
    add("y", false, PackageAction::None, {dep("x")});
    EXPECT_TRUE(plan());
    EXPECT_EQ(x.action, PackageAction::None);
    EXPECT_TRUE(removals.empty());
    EXPECT_EQ(repository.messages, (Names{warning}));
  }
}

TEST_F(Planning, DisabledDependantDoesNotProtectItsDependency) {
  Package& x = add("x", false, PackageAction::Disable);
  Package& y = add("y", true, PackageAction::None, {dep("x")});
  add("base");
  EXPECT_TRUE(plan());
  EXPECT_EQ(x.action, PackageAction::Disable);
  EXPECT_EQ(y.action, PackageAction::None);
  EXPECT_EQ(names(removals), (Names{"x"}));
  EXPECT_TRUE(repository.messages.empty());
}

TEST_F(Planning, DependantOfAProviderBeingUninstalledFollowsItsState) {
  // Enabled: it keeps the provider.
  Package& x = add("x", false, PackageAction::Uninstall);
  x.name = "wlan";
  x.provides = {dep("wireless", k10, k10)};
  Package& y = add("y", false, PackageAction::None, {dep("wireless")});
  EXPECT_TRUE(plan());
  EXPECT_EQ(x.action, PackageAction::None);
  EXPECT_EQ(repository.messages, (Names{"WARNING: can not uninstall wlan-1.0: y depends on it"}));

  // Disabled without action: it goes with the provider.
  repository.messages.clear();
  x.action = PackageAction::Uninstall;
  y.disabled = true;
  add("base");
  EXPECT_TRUE(plan());
  EXPECT_EQ(x.action, PackageAction::Uninstall);
  EXPECT_EQ(y.action, PackageAction::Uninstall);
  EXPECT_EQ(names(removals), (Names{"y", "wlan"}));
  EXPECT_TRUE(repository.messages.empty());
}

TEST_F(Planning, EnablingPullsInADisabledDependencyWithoutWarning) {
  Package& p = add("p", true, PackageAction::Enable, {dep("q")});
  Package& q = add("q", true);
  add("base");
  EXPECT_TRUE(plan());
  EXPECT_EQ(p.action, PackageAction::Enable);
  EXPECT_EQ(q.action, PackageAction::Enable);
  EXPECT_EQ(names(enables), (Names{"p", "q"}));
  EXPECT_TRUE(repository.messages.empty());
}

TEST_F(Planning, EnablingPullsInTheBestOfSeveralDisabledProviders) {
  add("p", true, PackageAction::Enable, {dep("q")});
  Package& older = add("q", true);
  Package& newer = add("q", true);
  newer.version = k20;
  EXPECT_TRUE(plan());
  EXPECT_EQ(newer.action, PackageAction::Enable);
  EXPECT_EQ(older.action, PackageAction::None);
}

TEST_F(Planning, KeepNeededStopsAtADependencyWithoutAnyProvider) {
  Package& p = add("p", true, PackageAction::Enable, {dep("nowhere"), dep("q")});
  Package& q = add("q", true);
  keepNeeded(repository, p, true);
  EXPECT_EQ(q.action, PackageAction::None);
}

TEST_F(Planning, EnabledPackageWithoutProviderIsUninstalled) {
  Package& orphan = add("orphan", false, PackageAction::None, {dep("gone")});
  add("base");
  EXPECT_TRUE(plan());
  EXPECT_EQ(orphan.action, PackageAction::Uninstall);
  EXPECT_EQ(names(removals), (Names{"orphan"}));
}

TEST_F(Planning, EnabledDependantKeepsAChainOfDependencies) {
  // c needs the disabled b, which needs a, scheduled for uninstall: b is
  // enabled and a stays.
  add("a", false, PackageAction::Uninstall);
  Package& b = add("b", true, PackageAction::None, {dep("a")});
  Package& c = add("c", false, PackageAction::None, {dep("b")});
  add("base");
  EXPECT_TRUE(plan());
  EXPECT_EQ(b.action, PackageAction::Enable);  // c enables b, which keeps a
  EXPECT_EQ(c.action, PackageAction::None);
  EXPECT_EQ(repository.packages[0]->action, PackageAction::None);
  EXPECT_EQ(repository.messages, (Names{"WARNING: can not uninstall a-1.0: b depends on it"}));
  EXPECT_EQ(names(enables), (Names{"b"}));
}

TEST_F(Planning, ConflictDisablesTheEnabledPackageOnEitherSide) {
  // a stays enabled and conflicts with b, or a is being enabled and b
  // conflicts with it: either way b is disabled.
  for (const bool aBeingEnabled : {false, true}) {
    repository.packages.clear();
    Package& a = add("a", aBeingEnabled, aBeingEnabled ? PackageAction::Enable : PackageAction::None);
    Package& b = add("b");
    (aBeingEnabled ? b : a).conflicts = {dep(aBeingEnabled ? "a" : "b")};
    EXPECT_TRUE(plan());
    EXPECT_EQ(a.action, aBeingEnabled ? PackageAction::Enable : PackageAction::None);
    EXPECT_EQ(b.action, PackageAction::Disable);
    EXPECT_EQ(names(removals), (Names{"b"}));
  }
}

TEST_F(Planning, OfTwoPackagesBeingEnabledTheOneConflictedWithIsRefused) {
  Package& a = add("a", true, PackageAction::Enable);
  Package& b = add("b", true, PackageAction::Enable);
  b.conflicts = {dep("a")};
  EXPECT_TRUE(plan());
  EXPECT_EQ(a.action, PackageAction::None);
  EXPECT_EQ(b.action, PackageAction::Enable);
  EXPECT_EQ(names(enables), (Names{"b"}));
  EXPECT_EQ(repository.messages, (Names{"WARNING: can not enable a: b-1.0 conflicts with it"}));
}

TEST_F(Planning, PlanThatLeavesNothingActiveIsRefused) {
  for (const PackageAction last : {PackageAction::Uninstall, PackageAction::Disable}) {
    repository.packages.clear();
    repository.messages.clear();
    add("a", false, PackageAction::Uninstall);
    add("b", true, PackageAction::None);
    add("c", false, last);
    EXPECT_FALSE(plan());
    for (const auto& package : repository.packages) EXPECT_EQ(package->action, PackageAction::None);
    EXPECT_EQ(repository.messages, (Names{"ERROR: can not uninstall or disable all packages"}));
  }
}

TEST_F(Planning, UninstallingABundleUninstallsItsMembers) {
  Package& m1 = add("m1");
  Package& m2 = add("m2", true);
  m1.bundle = m2.bundle = dep("suite", k10, k10);
  Package& suite = add("suite", false, PackageAction::Uninstall);
  suite.isBundle = true;
  add("base");
  EXPECT_TRUE(plan());
  EXPECT_EQ(m1.action, PackageAction::Uninstall);
  EXPECT_EQ(m2.action, PackageAction::Uninstall);
  EXPECT_EQ(names(removals), (Names{"suite", "m2", "m1"}));
}

TEST_F(Planning, DisablingEveryMemberUninstallsTheBundleRecord) {
  Package& m1 = add("m1", false, PackageAction::Disable);
  Package& m2 = add("m2", false, PackageAction::Disable);
  m1.bundle = m2.bundle = dep("suite", k10, k10);
  Package& suite = add("suite");
  suite.isBundle = true;
  add("base");
  EXPECT_TRUE(plan());
  EXPECT_EQ(suite.action, PackageAction::Uninstall);
  EXPECT_EQ(names(removals), (Names{"suite", "m2", "m1"}));
}

TEST_F(Planning, MembersFollowTheirBundle) {
  // Disabling the bundle disables its members but does not take back an
  // uninstall; after it no member keeps the enabled bundle record.
  Package& m1 = add("m1");
  Package& m2 = add("m2", false, PackageAction::Uninstall);
  m1.bundle = m2.bundle = dep("suite", k10, k10);
  Package& suite = add("suite", false, PackageAction::Disable);
  suite.isBundle = true;
  add("base");
  EXPECT_TRUE(plan());
  EXPECT_EQ(m1.action, PackageAction::Disable);
  EXPECT_EQ(m2.action, PackageAction::Uninstall);
  EXPECT_EQ(suite.action, PackageAction::Uninstall);

  // Enabling a disabled bundle enables its disabled members; the enabled
  // member stays as it is.
  repository.packages.clear();
  Package& d1 = add("d1", true);
  Package& d2 = add("d2");
  d1.bundle = d2.bundle = dep("suite", k10, k10);
  Package& disabledSuite = add("suite", true, PackageAction::Enable);
  disabledSuite.isBundle = true;
  EXPECT_TRUE(plan());
  EXPECT_EQ(d1.action, PackageAction::Enable);
  EXPECT_EQ(d2.action, PackageAction::None);
  EXPECT_EQ(disabledSuite.action, PackageAction::Enable);
  EXPECT_EQ(names(enables), (Names{"d1", "suite"}));
}

TEST_F(Planning, RemovalAndEnableListsRunInReverseOrder) {
  add("a", false, PackageAction::Disable);
  add("b", false, PackageAction::Uninstall);
  add("keep");
  add("c", false, PackageAction::Disable);
  add("d", true, PackageAction::Enable);
  add("e", true, PackageAction::Enable);
  add("f", true, PackageAction::Enable);
  EXPECT_TRUE(plan());
  EXPECT_EQ(names(removals), (Names{"c", "b", "a"}));
  // Unrelated packages to enable come out of the ordering reversed, and the
  // list reverses them again.
  EXPECT_EQ(names(enables), (Names{"d", "e", "f"}));
}

TEST_F(Planning, AlreadyDisabledPackageScheduledForDisableIsWrittenAgain) {
  Package& x = add("x", true, PackageAction::Disable);
  Package& idle = add("idle", true, PackageAction::None);
  add("base");
  EXPECT_TRUE(plan());
  EXPECT_EQ(names(removals), (Names{"x"}));
  EXPECT_EQ(idle.action, PackageAction::None);
  EXPECT_TRUE(enables.empty());
  EXPECT_EQ(x.action, PackageAction::Disable);
}

}  // namespace
