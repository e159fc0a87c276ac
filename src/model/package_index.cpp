#include "model/package_index.h"

#include <algorithm>

#include "model/repository.h"

namespace {

// Positions in order, each once.
void sortPositions(std::vector<uint32_t>* positions) {
  std::sort(positions->begin(), positions->end());
  positions->erase(std::unique(positions->begin(), positions->end()), positions->end());
}

}  // namespace

PackageIndex::PackageIndex(const Repository& repository) : packageCount_(repository.packages.size()) {
  for (uint32_t position = 0; position < repository.packages.size(); ++position) {
    forEachIndexedName(*repository.packages[position],
                       [&](const std::string& name) { entries_.push_back(Entry{&name, position}); });
  }
  std::sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
    const int order = a.name->compare(*b.name);
    return order != 0 ? order < 0 : a.position < b.position;
  });
}

bool PackageIndex::covers(const Repository& repository) const {
  return repository.packages.size() == packageCount_;
}

void PackageIndex::append(const std::string& name, std::vector<uint32_t>* positions) const {
  auto entry = std::lower_bound(entries_.begin(), entries_.end(), name,
                                [](const Entry& e, const std::string& wanted) { return *e.name < wanted; });
  for (; entry != entries_.end() && *entry->name == name; ++entry) positions->push_back(entry->position);
}

std::vector<uint32_t> PackageIndex::withName(const std::string& name) const {
  std::vector<uint32_t> positions;
  append(name, &positions);
  positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
  return positions;
}

std::vector<uint32_t> PackageIndex::related(const PackageInfo& package) const {
  std::vector<uint32_t> positions;
  forEachIndexedName(package, [&](const std::string& name) { append(name, &positions); });
  sortPositions(&positions);
  return positions;
}
