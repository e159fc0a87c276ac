// Planning of scheduled actions: what an active package needs stays or becomes
// enabled, conflicts are settled, packages left without what they need go, and
// the outcome is split into a removal list and an enable list.
#pragma once

#include <vector>

#include "model/dependency.h"
#include "model/package.h"
#include "model/repository.h"

// How one dependency stands under the plan at the moment of asking.
enum class DependencyState : int { Satisfied = 0, Missing = 1, DisabledOnly = 3 };

// Active: the package will be enabled once the plan is carried out.
bool isActive(const Package& package);

// Every package that is not a placeholder and satisfies or provides for
// `dependency`, in Repository order; disabled ones only with `includeDisabled`.
std::vector<Package*> findProviders(const Repository& repository, const Dependency& dependency,
                                    bool includeDisabled);

DependencyState dependencyState(const std::vector<Package*>& providers);

// Makes what an active `package` needs stay or become enabled.
void keepNeeded(Repository& repository, Package& package, bool reporting);
// Keeps `needed` (or has it enabled) because `dependent` needs it.
void keepProvider(Repository& repository, Package& needed, const Package& dependent, bool reporting);
// Settles the conflicts between an active `package` and the other active ones.
void resolveConflicts(Repository& repository, Package& package, bool reporting);
// Disables or uninstalls packages whose dependencies no longer stand, until
// nothing changes.
void propagateDependencies(Repository& repository);

// Plans every scheduled action. On success the removal list holds the packages
// to disable or uninstall, the enable list those to enable, each in the order
// to carry them out. False (every action reset to None) when the plan would
// leave no package active.
bool planActions(Repository& repository, std::vector<Package*>* removals, std::vector<Package*>* enables,
                 bool reporting);
