#include "model/package_index.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "model/repository.h"

namespace {

const Version k10 = makeVersion(1, 0, 'f', 0);
const Version k20 = makeVersion(2, 0, 'f', 0);

Dependency named(const std::string& name, Version min = 0, Version max = 0, int32_t priority = 0) {
  Dependency entry;
  entry.name = name;
  entry.min = min;
  entry.max = max;
  entry.priority = priority;
  return entry;
}

// One line per package: name, then what it provides, conflicts with and
// holds as members; "*" makes a placeholder.
struct Line {
  const char* name;
  std::vector<Dependency> provides;
  std::vector<Dependency> conflicts;
  std::vector<const char*> members;
};

// Names meet in every way a lookup sees: repeated names, names provided with
// ranks and ranges, conflicts by name and by provided name, members.
const Line kLines[] = {
    {"ppp", {}, {}, {}},
    {"pppoe", {named("ppp", k10, k20, 1)}, {named("pptp")}, {}},
    {"ppp", {}, {named("l2tp", k20)}, {}},
    {"routing", {}, {}, {"ospf", "bgp"}},
    {"ospf", {named("routing-core", 0, 0, -1)}, {}, {}},
    {"l2tp", {named("ppp", k20, k20, -1)}, {}, {}},
    {"*", {}, {named("ppp")}, {}},
    {"bgp", {named("routing-core", 0, 0, 2)}, {named("ospf", k20)}, {}},
    {"system", {}, {}, {}},
    {"pptp", {named("vpn")}, {named("routing")}, {}},
};
const char* const kNames[] = {"ppp",    "pppoe", "routing",      "ospf", "bgp", "l2tp", "pptp",
                              "system", "vpn",   "routing-core", "*",    "",    "missing"};

void fill(Repository& repository) {
  for (const Line& line : kLines) {
    auto package = std::make_unique<Package>(line.name);
    package->version = k10;
    if (std::string(line.name) == "*") package->version = package->buildTime = kPlaceholderMark;
    package->provides = line.provides;
    package->conflicts = line.conflicts;
    for (const char* member : line.members) package->members.push_back(std::make_unique<PackageInfo>(member));
    repository.packages.push_back(std::move(package));
  }
}

// Every lookup by name, and the conflicting package of every package.
std::vector<std::string> lookups(const Repository& repository) {
  std::vector<std::string> answers;
  auto title = [&](const Package* package) {
    for (size_t i = 0; i < repository.packages.size(); ++i)
      if (repository.packages[i].get() == package) return std::to_string(i);
    return std::string("none");
  };
  for (const char* name : kNames) {
    answers.push_back(std::string(name) + ": index " + std::to_string(repository.indexOf(name)) + ", provider " +
                      title(repository.findProvider(name)));
  }
  for (const auto& package : repository.packages)
    answers.push_back(package->name + " conflicts with " + title(repository.findConflicting(*package)));
  return answers;
}

// With the index, every lookup answers as the scan over all packages does,
// whichever packages are disabled at the time.
TEST(PackageIndex, IndexedLookupsAnswerAsTheScanOverEveryPackage) {
  Repository repository;
  fill(repository);
  for (unsigned pattern : {0u, 0x3FFu, 0x0A5u, 0x35Au, 0x104u}) {
    SCOPED_TRACE("disabled: " + std::to_string(pattern));
    for (size_t i = 0; i < repository.packages.size(); ++i) repository.packages[i]->disabled = (pattern >> i) & 1;
    const std::vector<std::string> scanned = lookups(repository);
    const IndexedLookups indexed(repository);
    EXPECT_EQ(lookups(repository), scanned);
  }
}

// An index in place serves a nested scope, and none outlives its scope.
TEST(PackageIndex, TheIndexLastsAsLongAsTheOutermostScope) {
  Repository repository;
  fill(repository);
  {
    const IndexedLookups outer(repository);
    { const IndexedLookups inner(repository); }
    EXPECT_EQ(repository.findProvider("vpn"), repository.packages[9].get()) << "the outer index still serves";
  }
  repository.packages[0]->provides = {named("vpn")};
  EXPECT_EQ(repository.findProvider("vpn"), repository.packages[0].get()) << "no index left to go stale";
}

}  // namespace
