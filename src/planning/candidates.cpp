// Collecting candidate package files and selecting the ones to install.
#include "planning/candidates.h"


#include <cstring>

#include "model/relations.h"

namespace {

bool hasSuffix(const char* name, const char* suffix) {
  const size_t nameLength = strlen(name);
  const size_t suffixLength = strlen(suffix);
  return nameLength >= suffixLength && memcmp(name + nameLength - suffixLength, suffix, suffixLength) == 0;
}

bool isCandidateName(const char* name) {
  if (name[0] == '\0' || name[0] == '.') return false;
  return hasSuffix(name, ".vpa") || hasSuffix(name, ".qpa");
}

// Whether two candidates carry the same package: same name, or one is a
// bundle with a member of the other's name.
bool carrySamePackage(const PackageInfo& a, const PackageInfo& b) {
  return isOrContains(a, b.name) || isOrContains(b, a.name);
}

// Phase 1 for candidate `a` (at `index`): true when it beats every candidate of
// the same package in the whole list, dropped ones included.
bool beatsTheOthers(const std::vector<const PackageInfo*>& list, size_t index, bool downgrade, Notices* notices) {
  const PackageInfo& a = *list[index];
  for (size_t other = 0; other < list.size(); ++other) {
    if (other == index) continue;
    const PackageInfo& b = *list[other];
    if (!carrySamePackage(a, b)) continue;

    const int c = compareVersions(b, a, downgrade);
    if (c < 0) continue;
    if (c > 0) {
      notices->push_back(noticeOf(false,
                                  downgrade ? "omitting package %s: older package is already provided"
                                            : "omitting package %s: newer package is already provided",
                                  packageTitle(a).c_str()));
      return false;
    }
    // Equal versions: a bundle is preferred to a separate file of one of its
    // members; between two of a kind the first in the list is kept.
    if (a.isBundle != b.isBundle) {
      if (a.isBundle) continue;
      return false;
    }
    if (other < index) return false;
  }
  return true;
}

// Phase 2: each candidate goes directly after the last one already placed
// that it needs or that overrides it, otherwise to the front.
std::vector<size_t> orderByDependency(const std::vector<const PackageInfo*>& list,
                                      const std::vector<size_t>& kept) {
  std::vector<size_t> result;
  result.reserve(kept.size());
  for (size_t candidate : kept) {
    const PackageInfo& p = *list[candidate];
    size_t position = 0;
    for (size_t i = result.size(); i > 0; --i) {
      const PackageInfo& q = *list[result[i - 1]];
      if (dependsOn(p, q) || conflictsWith(q, p)) {
        position = i;
        break;
      }
    }
    result.insert(result.begin() + position, candidate);
  }
  return result;
}

// Both phases; the indices of the kept candidates in install order.
std::vector<size_t> selectOrder(const std::vector<const PackageInfo*>& list, bool downgrade, Notices* notices) {
  std::vector<size_t> kept;
  for (size_t i = 0; i < list.size(); ++i) {
    if (beatsTheOthers(list, i, downgrade, notices)) kept.push_back(i);
  }
  return orderByDependency(list, kept);
}

}  // namespace

Notices collectCandidates(FileSystem& fs, const std::string& directory, CandidateList* candidates) {
  // A directory that cannot be listed has no candidates.
  Notices notices;
  std::vector<DirectoryEntry> entries;
  if (!fs.listDirectory(directory, &entries)) return notices;

  // Read every package file; tell of the ones that cannot be read.
  for (const DirectoryEntry& entry : entries) {
    const std::string& name = entry.name;
    if (!isCandidateName(name.c_str())) continue;
    auto record = std::make_unique<PackageFile>();
    if (!loadPackageFile(fs, *record, directory + name)) {
      notices.push_back(noticeOf(true, "broken package %s", name.c_str()));
      continue;
    }
    candidates->push_back(std::move(record));
  }
  return notices;
}

Notices selectCandidates(CandidateList* candidates, bool downgrade) {
  std::vector<const PackageInfo*> records;
  records.reserve(candidates->size());
  for (const auto& candidate : *candidates) records.push_back(candidate.get());

  Notices notices;
  const std::vector<size_t> order = selectOrder(records, downgrade, &notices);
  CandidateList selected;
  selected.reserve(order.size());
  for (size_t index : order) selected.push_back(std::move((*candidates)[index]));
  candidates->swap(selected);  // what is left in `selected` was dropped
  return notices;
}

Notices selectCandidates(std::vector<Package*>* candidates, bool downgrade) {
  const std::vector<const PackageInfo*> records(candidates->begin(), candidates->end());
  Notices notices;
  const std::vector<size_t> order = selectOrder(records, downgrade, &notices);
  std::vector<Package*> selected;
  selected.reserve(order.size());
  for (size_t index : order) selected.push_back((*candidates)[index]);
  candidates->swap(selected);
  return notices;
}
