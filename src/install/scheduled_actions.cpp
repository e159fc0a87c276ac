// Staging the planned disables, uninstalls and enables, and the cleanup rule.
#include "install/scheduled_actions.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "database/package_database.h"
#include "database/package_removal.h"
#include "install/notices_told.h"
#include "model/relations.h"
#include "planning/action_planning.h"

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

void disablePackage(InstallRun& run, Package& package) {
  run.console.setProgressLine("disabling " + packageTitle(package) + "...");
  writeDisabled(package, run.transaction);
  run.console.reportInfo("disabled %s", packageTitle(package).c_str());
}

// A damaged list may hold any bytes: control bytes and the backslash are
// shown as \NNN (octal), never sent to the terminal as they are.
std::string shownPath(const std::string& path) {
  std::string shown;
  for (const unsigned char c : path) {
    if (c >= 0x20 && c != 0x7f && c != '\\') {
      shown += static_cast<char>(c);
      continue;
    }
    char escaped[5];
    std::snprintf(escaped, sizeof escaped, "\\%03o", c);
    shown += escaped;
  }
  return shown;
}

// Uninstalling is not reported on the console.
void dropPackage(InstallRun& run, Package& package) {
  uninstallInstalled(run, package);
  auto& packages = run.repository.packages;
  packages.erase(std::find_if(packages.begin(), packages.end(),
                              [&package](const std::unique_ptr<Package>& entry) { return entry.get() == &package; }));
}

}  // namespace

void uninstallInstalled(InstallRun& run, Package& package) {
  const std::string title = packageTitle(package);
  for (const std::string& refused : uninstallPackage(package, run.repository, run.transaction)) {
    run.console.reportWarning("not removing %s of %s: it names no file below /flash", shownPath(refused).c_str(),
                  title.c_str());
  }
}

void removePackages(InstallRun& run, const std::vector<Package*>& removals) {
  for (Package* package : removals) {
    if (package->action == PackageAction::Disable) {
      disablePackage(run, *package);
    } else if (package->action == PackageAction::Uninstall) {
      dropPackage(run, *package);
    }
  }
}

void enablePackages(InstallRun& run, const std::vector<Package*>& enables) {
  for (Package* package : enables) {
    run.console.setProgressLine("enabling " + packageTitle(*package) + "...");
    writeEnabled(*package, run.transaction);
    run.console.reportInfo("enabled %s", packageTitle(*package).c_str());
  }
}

bool applyScheduledActions(InstallRun& run) {
  const Plan plan = planActions(run.repository);
  tell(run.console, plan.notices);
  if (!plan.accepted) return false;
  removePackages(run, plan.removals);
  enablePackages(run, plan.enables);
  return !plan.removals.empty() || !plan.enables.empty();
}

void settleScheduledActions(InstallRun& run) {
  const Plan plan = planActions(run.repository);
  if (!plan.accepted) return;
  for (Package* package : plan.removals) {
    if (package->action == PackageAction::Disable) {
      writeDisabled(*package, run.transaction);
    } else if (package->action == PackageAction::Uninstall) {
      dropPackage(run, *package);
    }
  }
  for (Package* package : plan.enables) writeEnabled(*package, run.transaction);
}

bool cleanup(InstallRun& run) {
  // What was scheduled comes first, silently.
  settleScheduledActions(run);

  // Everything not kept by name, as a bundle, or by a recent system goes.
  for (const auto& package : run.repository.packages) {
    if (isKeptByName(*package) || package->isBundle) continue;
    if (!dependsOnRecentSystem(*package)) package->action = PackageAction::Uninstall;
  }

  // The plan keeps what a remaining package needs, with a warning.
  return applyScheduledActions(run);
}
