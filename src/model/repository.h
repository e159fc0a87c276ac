// The one collection of packages of a run, in insertion order, together with
// the system architecture.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "model/package.h"
#include "model/package_index.h"

class Repository {
 public:
  // The process-wide instance, created empty on first use.
  static Repository& instance();

  std::string architecture;
  std::vector<std::unique_ptr<Package>> packages;
  // The first package of the name in insertion order, or -1 / null.
  int indexOf(const std::string& name) const;
  Package* find(const std::string& name) const;
  // The first enabled package of the name or providing it, else the last
  // disabled one, or null.
  Package* findProvider(const std::string& name) const;
  // The first enabled package that conflicts with `package`, or null.
  Package* findConflicting(const Package& package) const;
  bool anyStaysActive() const;
  void propagateBundleActions();
  void settleBundles();

  // Calls `visit` with the position of every package, in order, that may
  // have `name` among its names (its own, provided, conflicting or a
  // member's): all of them, unless an index is in place. Stops when `visit`
  // returns false.
  template <typename Visit>
  void forEachNamed(const std::string& name, Visit visit) const {
    forEachPosition([&](const PackageIndex& index) { return index.withName(name); }, visit);
  }
  // The same for every package that may conflict with `package`, or it with
  // them.
  template <typename Visit>
  void forEachRelated(const PackageInfo& package, Visit visit) const {
    forEachPosition([&](const PackageIndex& index) { return index.related(package); }, visit);
  }

 private:
  friend class IndexedLookups;
  // The positions the index gives, or every position without one, until `visit` returns false.
  template <typename IndexedPositions, typename Visit>
  void forEachPosition(IndexedPositions indexed, Visit visit) const {
    if (const PackageIndex* index = usableIndex()) {
      for (uint32_t position : indexed(*index))
        if (!visit(position)) return;
      return;
    }
    for (uint32_t position = 0; position < packages.size(); ++position)
      if (!visit(position)) return;
  }
  const PackageIndex* usableIndex() const { return index_ && index_->covers(*this) ? index_ : nullptr; }

  const PackageIndex* index_ = nullptr;
};

// While it lives, the repository's lookups by name go through an index
// instead of comparing every package. For a stretch of work that adds,
// removes or renames no package and changes no provides, conflicts or
// members, such as making a plan, which changes only actions. An index
// already in place serves on.
class IndexedLookups {
 public:
  explicit IndexedLookups(Repository& repository);
  ~IndexedLookups();
  IndexedLookups(const IndexedLookups&) = delete;
  IndexedLookups& operator=(const IndexedLookups&) = delete;

 private:
  Repository& repository_;
  std::unique_ptr<PackageIndex> index_;
};
