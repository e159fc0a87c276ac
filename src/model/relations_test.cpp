#include "model/relations.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

namespace {

const Version k640 = makeVersion(6, 40, 'f', 0);
const Version k6399 = makeVersion(6, 39, 'f', 9);
const Version k641 = makeVersion(6, 41, 'f', 0);
const Version k642 = makeVersion(6, 42, 'f', 0);

Dependency dep(const std::string& name, Version min = 0, Version max = 0, int32_t priority = 0) {
  return {name, min, max, priority};
}

// Records cannot be copied (a bundle owns its members), so they are made on the heap.
std::unique_ptr<PackageInfo> info(const std::string& name, Version version = k640,
                                  uint32_t buildTime = 100) {
  auto p = std::make_unique<PackageInfo>(name);
  p->version = version;
  p->buildTime = buildTime;
  return p;
}

PackageInfo& addMember(PackageInfo& bundle, const std::string& name, Version version = k640,
                       uint32_t buildTime = 100) {
  bundle.isBundle = true;
  bundle.members.push_back(info(name, version, buildTime));
  return *bundle.members.back();
}

TEST(TextForms, TitlesNameTheVersion) {
  EXPECT_EQ(packageTitle(*info("routing", makeVersion(6, 41, 'c', 2))), "routing-6.41rc2");
  EXPECT_EQ(dependencyTitle(dep("system")), "system");
  EXPECT_EQ(dependencyTitle(dep("system", makeVersion(3, 22, 'f', 0), k640)), "system-3.22");
  // Two version texts in one title must not share the static buffer's last value.
  EXPECT_EQ(packageTitle(*info("a", k640)) + packageTitle(*info("b", k641)), "a-6.40b-6.41");
}

TEST(TextForms, DisplayNameOfABundleMemberIsItsBundle) {
  Package member("ppp");
  member.version = k641;
  EXPECT_EQ(displayName(member), "ppp-6.41");
  member.bundle = dep("base", k640, k640);
  EXPECT_EQ(displayName(member), "base-6.40");
  member.bundle = dep("base");  // version of the bundle not known
  EXPECT_EQ(displayName(member), "base");
}

TEST(TextForms, BundleReferencePinsTheVersion) {
  const Dependency reference = bundleReference(*info("base", k641));
  EXPECT_EQ(reference.name, "base");
  EXPECT_EQ(reference.min, k641);
  EXPECT_EQ(reference.max, k641);
  EXPECT_EQ(reference.priority, 0);
}

TEST(Satisfies, ChecksNameAndBothBounds) {
  struct Case {
    Dependency d;
    const char* name;
    Version version;
    bool expected;
  } const cases[] = {
      {dep("x"), "x", 1, true},
      {dep("x"), "x", 0xFFFFFFFF, true},
      {dep("x"), "X", k640, false},  // names are case-sensitive
      {dep("x"), "xx", k640, false},
      {dep("x", k640), "x", k640, true},
      {dep("x", k640), "x", k6399, false},
      {dep("x", 0, k640), "x", 1, true},  // only max: everything up to max
      {dep("x", 0, k640), "x", k640, true},
      {dep("x", 0, k640), "x", k640 + 1, false},
      {dep("x", k640, k641), "x", k642, false},
      {dep("x", 0x80000000u), "x", 0x7FFFFFFFu, false},  // unsigned, not signed
  };
  for (const Case& c : cases) {
    EXPECT_EQ(satisfies(*info(c.name, c.version), c.d), c.expected)
        << c.name << " " << versionText(c.version) << " against " << dependencyTitle(c.d);
  }
}

TEST(Overlaps, TreatsZeroBoundsAsOpen) {
  struct Case {
    Dependency a, b;
    bool expected;
  } const cases[] = {
      {dep("x", k640, 0), dep("x", 0, k6399), false},
      {dep("x", k640, 0), dep("x", 0, 0), true},
      {dep("x", 0, 0), dep("x", 0, 0), true},
      {dep("x", 0, k6399), dep("x", k640, 0), false},
      {dep("x", k640, k641), dep("x", k641, k642), true},  // touching ranges overlap
      {dep("x", k640, k640), dep("x", k640, k640), true},
      {dep("x", k641, k642), dep("x", k640, k640), false},
      {dep("x", 0, 0), dep("y", 0, 0), false},
      {dep("x", 0x80000000u, 0), dep("x", 0, 0x7FFFFFFFu), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(overlaps(c.a, c.b), c.expected) << dependencyTitle(c.a) << " / " << dependencyTitle(c.b);
    EXPECT_EQ(overlaps(c.b, c.a), c.expected) << "reversed";
  }
}

TEST(ProvidesFor, AnyProvidedEntryMayOverlap) {
  auto p = info("wireless");
  EXPECT_FALSE(providesFor(*p, dep("wlan")));
  p->provides = {dep("radio", 0, 0), dep("wlan", k641, k641)};
  EXPECT_TRUE(providesFor(*p, dep("wlan")));
  EXPECT_TRUE(providesFor(*p, dep("wlan", k640, k641)));
  EXPECT_FALSE(providesFor(*p, dep("wlan", k642)));
  EXPECT_FALSE(providesFor(*p, dep("wireless")));  // its own name is not provided
}

TEST(DependsOn, ThroughEntriesProvidesAndMembers) {
  auto dhcp = info("dhcp");
  dhcp->depends = {dep("system", k640)};

  EXPECT_TRUE(dependsOn(*dhcp, *info("system", k641)));
  EXPECT_FALSE(dependsOn(*dhcp, *info("system", k6399)));
  EXPECT_FALSE(dependsOn(*info("system"), *dhcp));

  auto core = info("core");
  core->provides = {dep("system", k641)};
  EXPECT_TRUE(dependsOn(*dhcp, *core));

  auto bundle = info("base");
  addMember(*bundle, "ppp");
  EXPECT_FALSE(dependsOn(*dhcp, *bundle));
  addMember(*bundle, "system", k641);
  EXPECT_TRUE(dependsOn(*dhcp, *bundle));  // a depends on a member of b

  auto otherBundle = info("extras");
  addMember(*otherBundle, "ntp");
  EXPECT_FALSE(dependsOn(*otherBundle, *bundle));
  addMember(*otherBundle, "dhcp").depends = {dep("system")};
  EXPECT_TRUE(dependsOn(*otherBundle, *bundle));  // a member of a depends on a member of b
  EXPECT_TRUE(dependsOn(*otherBundle, *info("system")));
}

TEST(DependsOnName, MatchesAnyEntryRegardlessOfRange) {
  auto p = info("dhcp");
  p->depends = {dep("ppp"), dep("system", k642)};
  EXPECT_TRUE(dependsOnName(*p, "system"));
  EXPECT_FALSE(dependsOnName(*p, "System"));
  EXPECT_FALSE(dependsOnName(*p, "dhcp"));
}

TEST(IsOrContains, NameOrMemberName) {
  auto bundle = info("base");
  addMember(*bundle, "ppp");
  EXPECT_TRUE(isOrContains(*bundle, "base"));
  EXPECT_TRUE(isOrContains(*bundle, "ppp"));
  EXPECT_FALSE(isOrContains(*bundle, "pp"));
  EXPECT_FALSE(isOrContains(*bundle->members[0], "base"));  // a member does not contain its bundle
}

TEST(ConflictsWith, PlaceholdersConflictWithNothing) {
  auto a = info("a");
  a->conflicts = {dep("b")};
  auto b = info("b", kPlaceholderMark, kPlaceholderMark);
  EXPECT_FALSE(conflictsWith(*a, *b));
  EXPECT_FALSE(conflictsWith(*b, *a));
  b->buildTime = 1;  // only both marks make a placeholder
  EXPECT_TRUE(conflictsWith(*a, *b));
}

TEST(ConflictsWith, ConflictsListMatchesTheOtherNameOrWhatItProvides) {
  auto a = info("a");
  a->conflicts = {dep("b", k641), dep("wlan", k641)};
  EXPECT_FALSE(conflictsWith(*a, *info("b", k640)));
  EXPECT_TRUE(conflictsWith(*a, *info("b", k641)));
  EXPECT_FALSE(conflictsWith(*info("b", k641), *a));  // declared on one side only
  auto c = info("c");
  c->provides = {dep("wlan", 0, k640)};
  EXPECT_FALSE(conflictsWith(*a, *c));
  c->provides = {dep("wlan", 0, k641)};
  EXPECT_TRUE(conflictsWith(*a, *c));
}

TEST(ConflictsWith, ProvidingTheOtherNameDecidesInStepOrder) {
  struct Case {
    const char* what;
    int32_t bProvidesA;   // priority of b's entry for "a"; INT32_MIN: none
    int32_t aProvidesB;   // priority of a's entry for "b"; INT32_MIN: none
    bool expected;
  } const cases[] = {
      {"b replaces a", -1, INT32_MIN, true},
      {"b provides a without replacing it", 0, INT32_MIN, false},
      {"what b provides decides before what a provides", 0, 0, false},
      {"what b provides decides before what a provides, positive rank", 5, 0, false},
      {"a provides b with rank 0", INT32_MIN, 0, true},
      {"a provides b with negative rank", INT32_MIN, -1, false},
      {"nothing provided", INT32_MIN, INT32_MIN, false},
  };
  for (const Case& c : cases) {
    auto a = info("a");
    auto b = info("b");
    if (c.bProvidesA != INT32_MIN) b->provides.push_back(dep("a", 0, 0, c.bProvidesA));
    if (c.aProvidesB != INT32_MIN) a->provides.push_back(dep("b", 0, 0, c.aProvidesB));
    EXPECT_EQ(conflictsWith(*a, *b), c.expected) << c.what;
  }
}

TEST(ConflictsWith, SharedProvidedNameGoesToTheHigherRank) {
  struct Case {
    int32_t aRank, bRank;
    bool expected;
  } const cases[] = {{1, 0, true}, {0, 0, false}, {0, 1, false}, {-1, -2, true}, {-2, -1, false}};
  for (const Case& c : cases) {
    auto a = info("a");
    auto b = info("b");
    a->provides = {dep("unrelated", 0, 0, 9), dep("radio", 0, 0, c.aRank)};
    b->provides = {dep("radio", 0, 0, c.bRank), dep("radio", 0, 0, -100)};  // first entry decides
    EXPECT_EQ(conflictsWith(*a, *b), c.expected) << c.aRank << " vs " << c.bRank;
  }
}

TEST(ConflictsWith, FirstDecidingProvidesEntryEndsStepFour) {
  // a's first entry finds b's entry with a higher rank and decides false, even
  // though a later entry of a carries b's name.
  auto a = info("a");
  auto b = info("b");
  a->provides = {dep("radio", 0, 0, 0), dep("b", 0, 0, 0)};
  b->provides = {dep("radio", 0, 0, 3)};
  EXPECT_FALSE(conflictsWith(*a, *b));
  // The step-4 verdict also keeps the conflicts list from being consulted.
  a->conflicts = {dep("wlan")};
  b->provides.push_back(dep("wlan"));
  EXPECT_FALSE(conflictsWith(*a, *b));
}

TEST(ConflictsWith, BundlesConflictThroughTheirMembers) {
  auto bundle = info("base");
  addMember(*bundle, "ppp");
  EXPECT_TRUE(conflictsWith(*info("ppp"), *bundle));   // b contains a's name
  EXPECT_FALSE(conflictsWith(*bundle, *info("ppp")));  // but not the other way round

  PackageInfo& wireless = addMember(*bundle, "wireless");
  wireless.conflicts = {dep("wlan-legacy")};
  EXPECT_TRUE(conflictsWith(*bundle, *info("wlan-legacy")));  // a member of a conflicts with b
  wireless.version = kPlaceholderMark;
  wireless.buildTime = kPlaceholderMark;
  EXPECT_FALSE(conflictsWith(*bundle, *info("wlan-legacy")));
}

TEST(CompareVersions, VersionFirstThenBuildTime) {
  struct Case {
    Version va;
    uint32_t ta;
    Version vb;
    uint32_t tb;
    int expected;
  } const cases[] = {
      {k641, 1, k640, 9, 1},          {k640, 9, k641, 1, -1},
      {k640, 5, k640, 4, 1},          {k640, 4, k640, 5, -1},
      {k640, 5, k640, 5, 0},          {0x80000000u, 0, 0x7FFFFFFFu, 0, 1},
      {k640, 0x80000000u, k640, 1, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(compareVersions(*info("x", c.va, c.ta), *info("x", c.vb, c.tb)), c.expected);
    EXPECT_EQ(compareVersions(*info("x", c.va, c.ta), *info("x", c.vb, c.tb), true), -c.expected);
    EXPECT_EQ(compareVersions(*info("x", c.va, c.ta), *info("x", c.vb, c.tb), false), c.expected);
  }
}

TEST(CompareVersions, UnrelatedPackagesAreEqual) {
  EXPECT_EQ(compareVersions(*info("x", k642), *info("y", k640)), 0);
  auto bundle = info("base", k642);
  addMember(*bundle, "ppp", k642);
  EXPECT_EQ(compareVersions(*bundle, *info("dhcp", k640)), 0);
}

TEST(CompareVersions, ThroughABundleMemberKeepsTheSignOfFirstAgainstSecond) {
  // The bundle itself is older than the package, but its member is newer.
  auto bundle = info("base", k640);
  addMember(*bundle, "system", k640);
  addMember(*bundle, "ppp", k642);
  auto ppp = info("ppp", k641);

  EXPECT_EQ(compareVersions(*bundle, *ppp), 1);
  EXPECT_EQ(compareVersions(*ppp, *bundle), -1);
  EXPECT_EQ(compareVersions(*bundle, *ppp, true), -1);
  EXPECT_EQ(compareVersions(*ppp, *bundle, true), 1);

  auto newerPpp = info("ppp", k642, 200);
  EXPECT_EQ(compareVersions(*bundle, *newerPpp), -1);  // same version, later build
  EXPECT_EQ(compareVersions(*newerPpp, *bundle), 1);
}

}  // namespace
