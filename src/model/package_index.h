// The packages of a repository by name, for lookups that would otherwise
// compare every package: each package under its own name, the names it
// provides and conflicts with, and those of its members, in repository
// order. It holds positions, so it serves only while no package is added,
// removed or renamed and no provides, conflicts or members change: while a
// plan is made, which changes only actions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/package.h"

class Repository;

class PackageIndex {
 public:
  explicit PackageIndex(const Repository& repository);

  // Whether the index still has the repository's number of packages.
  bool covers(const Repository& repository) const;

  // The positions, in repository order, of every package that has `name`
  // among its names: a superset of those named so, providing it, or
  // conflicting with it.
  std::vector<uint32_t> withName(const std::string& name) const;
  // The positions, in repository order, of every package that shares a name
  // with `package` (its own, provided, conflicting, or a member's): a
  // superset of those that conflict with it, or it with them.
  std::vector<uint32_t> related(const PackageInfo& package) const;

 private:
  struct Entry {
    const std::string* name;
    uint32_t position;
  };
  // Appends the range of entries of `name` to `positions`.
  void append(const std::string& name, std::vector<uint32_t>* positions) const;

  // Sorted by name, then position.
  std::vector<Entry> entries_;
  size_t packageCount_;
};

// Calls `each` with every name of `package` the index keeps it under.
template <typename Each>
void forEachIndexedName(const PackageInfo& package, Each each) {
  each(package.name);
  for (const Dependency& provided : package.provides) each(provided.name);
  for (const Dependency& conflict : package.conflicts) each(conflict.name);
  for (const auto& member : package.members) forEachIndexedName(*member, each);
}
