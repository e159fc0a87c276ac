// The index of a repository's names: lookups through it answer as the scan over every package.
#include "model/package_index.h"

#include <gtest/gtest.h>

#include "model/repository.h"
#include "support/state_notation.h"

namespace {

// Names meet in every way a lookup sees: repeated names, names provided with ranks and ranges,
// conflicts by name and by provided name, members, a placeholder.
Repository filled() {
  Repository repository;
  repository.packages = makePackages(
      "ppp 1.0; pppoe 1.0 +ppp:1.0:2.0:1 !pptp; ppp 1.0 !l2tp:2.0; routing 1.0 bundle; ospf 1.0 @routing; "
      "bgp 1.0 @routing; ospf 1.0 +routing-core:::-1; l2tp 1.0 +ppp:2.0:2.0:-1; ghost placeholder !ppp; "
      "bgp 1.0 +routing-core:::2 !ospf:2.0; system 1.0; pptp 1.0 +vpn !routing",
      true);
  return repository;
}

// Every lookup by name, and the conflicting package of every package.
std::vector<std::string> lookups(const Repository& repository) {
  std::vector<std::string> answers;
  auto title = [&](const Package* package) {
    for (size_t i = 0; i < repository.packages.size(); ++i)
      if (repository.packages[i].get() == package) return std::to_string(i);
    return std::string("none");
  };
  for (const char* name : {"ppp", "pppoe", "routing", "ospf", "bgp", "l2tp", "pptp", "system", "vpn", "routing-core",
                           "ghost", "", "missing"}) {
    answers.push_back(std::string(name) + ": index " + std::to_string(repository.indexOf(name)) + ", provider " +
                      title(repository.findProvider(name)));
  }
  for (const auto& package : repository.packages)
    answers.push_back(package->name + " conflicts with " + title(repository.findConflicting(*package)));
  return answers;
}

// With the index, every lookup answers as the scan over all packages does, whichever packages are disabled at the time.
TEST(PackageIndex, IndexedLookupsAnswerAsTheScanOverEveryPackage) {
  Repository repository = filled();
  ASSERT_EQ(repository.packages.size(), 10u);
  for (unsigned pattern : {0u, 0x3FFu, 0x0A5u, 0x35Au, 0x104u}) {
    SCOPED_TRACE("disabled: " + std::to_string(pattern));
    for (size_t i = 0; i < repository.packages.size(); ++i) repository.packages[i]->disabled = (pattern >> i) & 1;
    const std::vector<std::string> scanned = lookups(repository);
    const IndexedLookups indexed(repository);
    EXPECT_EQ(lookups(repository), scanned);
  }
}

}  // namespace
