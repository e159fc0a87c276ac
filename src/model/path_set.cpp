#include "model/path_set.h"

#include <algorithm>

size_t PathSet::lowerBound(std::string_view path) const {
  if (order_.empty() || at(order_.size() - 1) < path) return order_.size();
  const auto found = std::lower_bound(order_.begin(), order_.end(), path,
                                      [this](uint32_t ref, std::string_view key) { return texts_.text(ref) < key; });
  return static_cast<size_t>(found - order_.begin());
}

bool PathSet::insert(std::string_view path) {
  const size_t place = lowerBound(path);
  if (place < order_.size() && at(place) == path) return false;
  // Grown by a quarter, not doubled.
  if (order_.size() == order_.capacity()) order_.reserve(order_.size() + order_.size() / 4 + 64);
  order_.insert(order_.begin() + static_cast<std::ptrdiff_t>(place), texts_.store(path));
  return true;
}

size_t PathSet::count(std::string_view path) const {
  const size_t place = lowerBound(path);
  return place < order_.size() && at(place) == path ? 1 : 0;
}

void PathSet::clear() {
  order_ = std::vector<uint32_t>();
  texts_.clear();
}
