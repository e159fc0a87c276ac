// Staging the planned disables, uninstalls and enables, and the cleanup rule.
#include "install/scheduled_actions.h"

#include <algorithm>

#include "database/package_database.h"
#include "model/relations.h"
#include "database/package_removal.h"
#include "planning/action_planning.h"
#include "model/console.h"

namespace {

// A package that depends on "system" above this stays through a cleanup:
// every version from 3.22 on.
constexpr Version kCleanupSystemFloor = 0x031665FF;

bool isKeptByName(const Package& package) {
  return package.name == "quarry" || package.name == "tessel-drivers" || package.name == "system";
}

bool dependsOnRecentSystem(const Package& package) {
  for (const Dependency& dependency : package.depends) {
    if (dependency.name == "system" && dependency.min > kCleanupSystemFloor) return true;
  }
  return false;
}

void disablePackage(Repository& repository, Transaction& transaction, Package& package, bool reporting,
                    const std::string& root) {
  if (reporting) setProgressLine(repository, "disabling " + packageTitle(package) + "...");
  writeDisabled(package, transaction, root);
  if (reporting) reportInfo(repository, "disabled %s", packageTitle(package).c_str());
}

// Uninstalling is not reported on the console.
void dropPackage(Repository& repository, Transaction& transaction, Package& package, const std::string& root) {
  uninstallPackage(repository, package, transaction, root);
  auto& packages = repository.packages;
  packages.erase(std::find_if(packages.begin(), packages.end(),
                              [&package](const std::unique_ptr<Package>& entry) { return entry.get() == &package; }));
}

}  // namespace

void removePackages(Repository& repository, Transaction& transaction, const std::vector<Package*>& removals,
                    bool reporting, const std::string& root) {
  for (Package* package : removals) {
    if (package->action == Disable) {
      disablePackage(repository, transaction, *package, reporting, root);
    } else if (package->action == Uninstall) {
      dropPackage(repository, transaction, *package, root);
    }
  }
}

void enablePackages(Repository& repository, Transaction& transaction, const std::vector<Package*>& enables,
                    bool reporting, const std::string& root) {
  for (Package* package : enables) {
    if (reporting) setProgressLine(repository, "enabling " + packageTitle(*package) + "...");
    writeEnabled(*package, transaction, root);
    if (reporting) reportInfo(repository, "enabled %s", packageTitle(*package).c_str());
  }
}

bool applyScheduledActions(Repository& repository, Transaction& transaction, bool reporting,
                           const std::string& root) {
  // 1.
  std::vector<Package*> removals;
  std::vector<Package*> enables;
  if (!planActions(repository, &removals, &enables, reporting)) return false;

  // 2.
  const bool changed = !removals.empty() || !enables.empty();

  // 3.
  removePackages(repository, transaction, removals, reporting, root);
  enablePackages(repository, transaction, enables, reporting, root);

  // 4.
  return changed;
}

bool cleanup(Repository& repository, Transaction& transaction, const std::string& root) {
  // 1. What was scheduled comes first, silently.
  applyScheduledActions(repository, transaction, false, root);

  // 2. Everything not kept by name, as a bundle, or by a recent system goes.
  for (const auto& package : repository.packages) {
    if (isKeptByName(*package) || package->isBundle) continue;
    if (!dependsOnRecentSystem(*package)) package->action = Uninstall;
  }

  // 3. The plan keeps what a remaining package needs, with a warning.
  return applyScheduledActions(repository, transaction, true, root);
}
