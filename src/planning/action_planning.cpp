// Planning of scheduled actions against dependencies, conflicts and bundles.
#include "planning/action_planning.h"

#include "model/relations.h"
#include "planning/candidates.h"

namespace {

// One pass of propagateDependencies over `package`: true when its action changed.
bool settleDependencies(const Repository& repository, Package& package) {
  for (const Dependency& dependency : package.depends) {
    const DependencyState state = dependencyState(findProviders(repository, dependency, true));
    if (state == DependencyState::Missing) {
      if (package.action == PackageAction::Uninstall) continue;
      package.action = PackageAction::Uninstall;
      return true;
    }
    if (state == DependencyState::DisabledOnly) {
      if (package.action == PackageAction::Uninstall || package.action == PackageAction::Disable) continue;
      // A disabled package without action stays as it is.
      if (package.disabled && package.action == PackageAction::None) continue;
      package.action = PackageAction::Disable;
      return true;
    }
  }
  return false;
}

void resetActions(Repository& repository) {
  for (const auto& package : repository.packages) package->action = PackageAction::None;
}

}  // namespace

bool isActive(const Package& package) {
  return package.action == PackageAction::Enable || (package.action == PackageAction::None && !package.disabled);
}

std::vector<Package*> findProviders(const Repository& repository, const Dependency& dependency,
                                    bool includeDisabled) {
  std::vector<Package*> providers;
  repository.forEachNamed(dependency.name, [&](uint32_t position) {
    Package* package = repository.packages[position].get();
    if (isPlaceholder(*package) || (package->disabled && !includeDisabled)) return true;
    if (satisfies(*package, dependency) || providesFor(*package, dependency)) providers.push_back(package);
    return true;
  });
  return providers;
}

DependencyState dependencyState(const std::vector<Package*>& providers) {
  bool hasDisabledProvider = false;
  for (const Package* provider : providers) {
    if (!provider->disabled) {
      // An enabled provider being enabled stays enabled: it counts like one
      // without action. One being uninstalled counts for nothing.
      if (provider->action == PackageAction::None || provider->action == PackageAction::Enable)
        return DependencyState::Satisfied;
      if (provider->action == PackageAction::Disable) hasDisabledProvider = true;
    } else {
      if (provider->action == PackageAction::Enable) return DependencyState::Satisfied;
      hasDisabledProvider = true;
    }
  }
  return hasDisabledProvider ? DependencyState::DisabledOnly : DependencyState::Missing;
}

void keepNeeded(Repository& repository, Package& package, Notices* notices) {
  // A bundle member keeps its bundle.
  if (!package.bundle.name.empty()) {
    if (Package* bundle = repository.find(package.bundle.name)) keepProvider(repository, *bundle, package, notices);
  }

  // Each dependency keeps its best provider.
  for (const Dependency& dependency : package.depends) {
    std::vector<Package*> providers = findProviders(repository, dependency, true);
    if (dependencyState(providers) == DependencyState::Satisfied) continue;
    if (providers.empty()) break;
    selectCandidates(&providers, false);
    if (providers.empty()) continue;
    keepProvider(repository, *providers.back(), package, notices);
  }
}

void keepProvider(Repository& repository, Package& needed, const Package& dependent, Notices* notices) {
  // A scheduled uninstall or disable is cancelled.
  if (needed.action == PackageAction::Uninstall || needed.action == PackageAction::Disable) {
    notices->push_back(noticeOf(false, "can not %s %s: %s depends on it", actionWord(needed.action),
                                packageTitle(needed).c_str(), dependent.name.c_str()));
    needed.action = PackageAction::None;
    keepNeeded(repository, needed, notices);
    return;
  }
  // A disabled package is enabled.
  if (needed.disabled) {
    needed.action = PackageAction::Enable;
    keepNeeded(repository, needed, notices);
  }
  // An enabled package stays as it is.
}

void resolveConflicts(Repository& repository, Package& package, Notices* notices) {
  // Only a package that shares a name with it can conflict either way.
  repository.forEachRelated(package, [&](uint32_t position) {
    Package& other = *repository.packages[position];
    if (&other == &package || !isActive(other)) return true;

    // The package conflicts with the other one: that one is disabled,
    // unless it is being enabled.
    if (conflictsWith(package, other)) {
      if (other.action == PackageAction::None) other.action = PackageAction::Disable;
      return true;
    }
    // A package being enabled against one that conflicts with it.
    if (package.action == PackageAction::Enable && conflictsWith(other, package)) {
      if (other.action == PackageAction::None) {
        other.action = PackageAction::Disable;
      } else if (other.action == PackageAction::Enable) {
        notices->push_back(noticeOf(false, "can not enable %s: %s conflicts with it", package.name.c_str(),
                                    packageTitle(other).c_str()));
        package.action = PackageAction::None;
        return false;
      }
    }
    return true;
  });
}

void propagateDependencies(Repository& repository) {
  // A change can break what an earlier package relied on, so every change
  // starts the pass again at the first package.
  bool changed = true;
  while (changed) {
    changed = false;
    for (const auto& package : repository.packages) {
      if (settleDependencies(repository, *package)) {
        changed = true;
        break;
      }
    }
  }
}

Plan planActions(Repository& repository) {
  // A plan changes actions only, so the names stay as the index has them.
  const IndexedLookups lookups(repository);
  Plan plan;
  Notices* notices = &plan.notices;

  // Bundle actions reach the members.
  repository.propagateBundleActions();

  // Packages are visited in order and looked at as they stand then.
  for (size_t i = 0; i < repository.packages.size(); ++i) {
    Package& package = *repository.packages[i];
    if (isActive(package)) keepNeeded(repository, package, notices);
  }
  for (size_t i = 0; i < repository.packages.size(); ++i) {
    Package& package = *repository.packages[i];
    if (isActive(package)) resolveConflicts(repository, package, notices);
  }

  propagateDependencies(repository);
  repository.settleBundles();

  // A plan that leaves nothing active is refused.
  if (!repository.packages.empty() && !repository.anyStaysActive()) {
    resetActions(repository);
    notices->push_back(noticeOf(true, "can not uninstall or disable all packages"));
    return plan;
  }

  // Collect the two lists; enables go in dependency order.
  std::vector<Package*> toRemove;
  std::vector<Package*> toEnable;
  for (const auto& package : repository.packages) {
    if (package->action == PackageAction::Uninstall || package->action == PackageAction::Disable)
      toRemove.push_back(package.get());
    if (package->action == PackageAction::Enable) toEnable.push_back(package.get());
  }
  selectCandidates(&toEnable, false);

  // Each list is carried out in reverse.
  plan.accepted = true;
  plan.removals.assign(toRemove.rbegin(), toRemove.rend());
  plan.enables.assign(toEnable.rbegin(), toEnable.rend());
  return plan;
}
