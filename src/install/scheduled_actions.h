// Carrying out planned actions: disabling, uninstalling and enabling packages
// through the run's transaction, the scheduled actions of a run as a whole,
// and the cleanup rule of --cleanup.
#pragma once

#include <vector>

#include "install/install_run.h"

// Stages the removal of an installed package (its files, entry and stored
// image) and reports a listed path it leaves alone because it names no file
// below /flash.
void uninstallInstalled(InstallRun& run, Package& package);

// Disables or uninstalls each package of the list in order, telling of each
// disable. Uninstalled packages leave the repository and are destroyed.
void removePackages(InstallRun& run, const std::vector<Package*>& removals);

// Enables each package of the list in order, whatever its action, telling of
// each.
void enablePackages(InstallRun& run, const std::vector<Package*>& enables);

// Plans the scheduled actions and stages them, telling what the plan refused
// and each disable and enable. True when at least one package was disabled,
// uninstalled or enabled.
bool applyScheduledActions(InstallRun& run);

// The same without a word of the plan's own, after a package was installed:
// the line about the package says what happened.
void settleScheduledActions(InstallRun& run);

// Uninstalls every package that does not depend on "system" 3.22 or later,
// except "system", "quarry", "tessel-drivers", bundles and what a remaining
// package needs.
bool cleanup(InstallRun& run);
