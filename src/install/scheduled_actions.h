// Carrying out planned actions: disabling, uninstalling and enabling packages
// through the run's Transaction, the scheduled actions of a run as a whole,
// and the cleanup rule of --cleanup.
#pragma once

#include <string>
#include <vector>

#include "model/package.h"
#include "model/repository.h"

class Transaction;

// `root` below is the directory in which the board's tree is seen: empty on
// the board, a scratch tree in tests.

// Disables or uninstalls each package of the list in order. Uninstalled
// packages leave the Repository and are destroyed.
void removePackages(Repository& repository, Transaction& transaction, const std::vector<Package*>& removals,
                    bool reporting, const std::string& root = std::string());

// Enables each package of the list in order, whatever its action.
void enablePackages(Repository& repository, Transaction& transaction, const std::vector<Package*>& enables,
                    bool reporting, const std::string& root = std::string());

// Plans the scheduled actions and stages them. True when at least one
// package was disabled, uninstalled or enabled.
bool applyScheduledActions(Repository& repository, Transaction& transaction, bool reporting,
                           const std::string& root = std::string());

// Uninstalls every package that does not depend on "system" 3.22 or later,
// except "system", "quarry", "tessel-drivers", bundles and what a remaining
// package needs.
bool cleanup(Repository& repository, Transaction& transaction, const std::string& root = std::string());
