// Pure relations between package records and their text forms, on which
// planning is built. Names compare exactly; versions as unsigned numbers.
#pragma once

#include <string>

#include "model/package.h"

// name + "-" + versionText(version)
std::string packageTitle(const PackageInfo& package);
// name, then "-" + versionText(min) when min is not 0
std::string dependencyTitle(const Dependency& dependency);
// the bundle's dependencyTitle for a bundle member, else packageTitle
std::string displayName(const Package& package);
// name with version as both min and max, priority 0
Dependency bundleReference(const PackageInfo& package);

bool satisfies(const PackageInfo& package, const Dependency& dependency);
bool overlaps(const Dependency& a, const Dependency& b);
bool providesFor(const PackageInfo& package, const Dependency& dependency);
bool dependsOn(const PackageInfo& a, const PackageInfo& b);
bool dependsOnName(const PackageInfo& package, const std::string& name);
bool isOrContains(const PackageInfo& package, const std::string& name);
bool conflictsWith(const PackageInfo& a, const PackageInfo& b);
// -1, 0 or +1: a against b, through bundle members; `negate` flips the sign.
int compareVersions(const PackageInfo& a, const PackageInfo& b);
int compareVersions(const PackageInfo& a, const PackageInfo& b, bool negate);
