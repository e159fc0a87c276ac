// Relations between package records and their text forms.
#include "model/relations.h"

#include <algorithm>

namespace {

// The first member of `package` named `name`, or nullptr.
const PackageInfo* memberNamed(const PackageInfo& package, const std::string& name) {
  for (const auto& member : package.members) {
    if (member->name == name) return member.get();
  }
  return nullptr;
}

// The first provides entry of `package` named `name`, or nullptr.
const Dependency* providedEntryNamed(const PackageInfo& package, const std::string& name) {
  for (const Dependency& entry : package.provides) {
    if (entry.name == name) return &entry;
  }
  return nullptr;
}

// One package replacing the other by
// providing its name, or both providing one name with different ranks.
// Returns -1 when neither step decides, else 0 or 1.
int providedNameVerdict(const PackageInfo& a, const PackageInfo& b) {
  // b provides a's name: a negative rank means b replaces a.
  if (const Dependency* q = providedEntryNamed(b, a.name)) return q->priority < 0 ? 1 : 0;

  // a provides b's name, or both provide the same name.
  for (const Dependency& p : a.provides) {
    if (p.name == b.name) return p.priority >= 0 ? 1 : 0;
    if (const Dependency* q = providedEntryNamed(b, p.name)) return p.priority > q->priority ? 1 : 0;
  }
  return -1;
}

}  // namespace

std::string packageTitle(const PackageInfo& package) {
  return package.name + "-" + versionText(package.version);
}

std::string dependencyTitle(const Dependency& dependency) {
  if (dependency.min == 0) return dependency.name;
  return dependency.name + "-" + versionText(dependency.min);
}

std::string displayName(const Package& package) {
  if (!package.bundle.name.empty()) return dependencyTitle(package.bundle);
  return packageTitle(package);
}

Dependency bundleReference(const PackageInfo& package) {
  Dependency reference;
  reference.name = package.name;
  reference.min = package.version;
  reference.max = package.version;
  reference.priority = 0;
  return reference;
}

bool satisfies(const PackageInfo& package, const Dependency& dependency) {
  return package.name == dependency.name && dependency.min <= package.version &&
         (dependency.max == 0 || package.version <= dependency.max);
}

bool overlaps(const Dependency& a, const Dependency& b) {
  if (a.name != b.name) return false;
  // A bound of 0 is open and never excludes anything.
  if (a.min != 0 && b.max != 0 && a.min > b.max) return false;
  if (a.max != 0 && b.min != 0 && a.max < b.min) return false;
  return true;
}

bool providesFor(const PackageInfo& package, const Dependency& dependency) {
  return std::any_of(package.provides.begin(), package.provides.end(),
                     [&](const Dependency& entry) { return overlaps(entry, dependency); });
}

bool dependsOn(const PackageInfo& a, const PackageInfo& b) {
  for (const Dependency& dependency : a.depends) {
    if (satisfies(b, dependency) || providesFor(b, dependency)) return true;
  }
  for (const auto& member : b.members) {
    if (dependsOn(a, *member)) return true;
  }
  for (const auto& member : a.members) {
    if (dependsOn(*member, b)) return true;
  }
  return false;
}

bool dependsOnName(const PackageInfo& package, const std::string& name) {
  return std::any_of(package.depends.begin(), package.depends.end(),
                     [&](const Dependency& entry) { return entry.name == name; });
}

bool isOrContains(const PackageInfo& package, const std::string& name) {
  return package.name == name || memberNamed(package, name) != nullptr;
}

bool conflictsWith(const PackageInfo& a, const PackageInfo& b) {
  // Placeholders conflict with nothing.
  if (isPlaceholder(a) || isPlaceholder(b)) return false;

  // b is named in a's conflicts.
  for (const Dependency& entry : a.conflicts) {
    if (satisfies(b, entry)) return true;
  }

  // Provided names.
  const int verdict = providedNameVerdict(a, b);
  if (verdict >= 0) return verdict == 1;

  // b provides something that a's conflicts name.
  for (const Dependency& entry : a.conflicts) {
    if (providesFor(b, entry)) return true;
  }

  // b contains a package of a's name.
  if (memberNamed(b, a.name) != nullptr) return true;

  // A member of a conflicts with b.
  for (const auto& member : a.members) {
    if (conflictsWith(*member, b)) return true;
  }
  return false;
}

int compareVersions(const PackageInfo& a, const PackageInfo& b) {
  // Find the two records of one name: a bundle stands for its member of the
  // other side's name. Each turn makes the names equal or gives up, so the
  // loop runs at most once.
  const PackageInfo* x = &a;
  const PackageInfo* y = &b;
  int sign = 1;
  while (x->name != y->name) {
    if (const PackageInfo* member = memberNamed(*x, y->name)) {
      x = member;
    } else if (const PackageInfo* member = memberNamed(*y, x->name)) {
      y = x;
      x = member;
      sign = -sign;
    } else {
      return 0;  // unrelated packages
    }
  }

  if (x->version != y->version) return x->version > y->version ? sign : -sign;
  if (x->buildTime != y->buildTime) return x->buildTime > y->buildTime ? sign : -sign;
  return 0;
}

int compareVersions(const PackageInfo& a, const PackageInfo& b, bool negate) {
  const int result = compareVersions(a, b);
  return negate ? -result : result;
}
