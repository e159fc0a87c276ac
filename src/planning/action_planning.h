// Planning of scheduled actions: what an active package needs stays or becomes
// enabled, conflicts are settled, packages left without what they need go, and
// the outcome is split into a removal list and an enable list.
#pragma once

#include <vector>

#include "model/dependency.h"
#include "model/package.h"
#include "model/repository.h"
#include "planning/notice.h"

// How one dependency stands under the plan at the moment of asking.
enum class DependencyState : int { Satisfied = 0, Missing = 1, DisabledOnly = 3 };

// Active: the package will be enabled once the plan is carried out.
bool isActive(const Package& package);

// Every package that is not a placeholder and satisfies or provides for
// `dependency`, in Repository order; disabled ones only with `includeDisabled`.
std::vector<Package*> findProviders(const Repository& repository, const Dependency& dependency,
                                    bool includeDisabled);

DependencyState dependencyState(const std::vector<Package*>& providers);

// Makes what an active `package` needs stay or become enabled. These three
// add a notice of each scheduled action they cancel.
void keepNeeded(Repository& repository, Package& package, Notices* notices);
// Keeps `needed` (or has it enabled) because `dependent` needs it.
void keepProvider(Repository& repository, Package& needed, const Package& dependent, Notices* notices);
// Settles the conflicts between an active `package` and the other active ones.
void resolveConflicts(Repository& repository, Package& package, Notices* notices);
// Disables or uninstalls packages whose dependencies no longer stand, until
// nothing changes.
void propagateDependencies(Repository& repository);

// A plan of the scheduled actions: the packages to disable or uninstall, and
// those to enable, each in the order to carry them out, and the notices of
// what was refused. A plan that would leave no package active is refused
// whole (every action reset to None).
struct Plan {
  bool accepted = false;
  std::vector<Package*> removals;
  std::vector<Package*> enables;
  Notices notices;
};
Plan planActions(Repository& repository);
