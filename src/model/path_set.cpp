#include "model/path_set.h"

#include <algorithm>
#include <cstring>

int compareSplitPath(std::string_view dir, std::string_view name, std::string_view key) {
  // Bytes compare as unsigned, as memcmp compares them.
  for (const std::string_view part : {dir, name}) {
    // An empty view may have no bytes to point at: memcmp is not asked.
    const size_t shared = std::min(part.size(), key.size());
    const int order = shared == 0 ? 0 : std::memcmp(part.data(), key.data(), shared);
    if (order != 0) return order < 0 ? -1 : 1;
    if (key.size() < part.size()) return 1;
    key.remove_prefix(part.size());
  }
  return key.empty() ? 0 : -1;
}

int PathSet::compare(const Entry& entry, std::string_view key) const {
  return compareSplitPath(texts_.text(entry.dir), texts_.text(entry.name), key);
}

void PathSet::build(size_t position, std::string* path) const {
  const Entry& entry = order_[position];
  path->assign(texts_.text(entry.dir));
  path->append(texts_.text(entry.name));
}

size_t PathSet::lowerBound(std::string_view path) const {
  if (order_.empty() || compare(order_.back(), path) < 0) return order_.size();
  const auto found = std::lower_bound(order_.begin(), order_.end(), path,
                                      [this](const Entry& entry, std::string_view key) { return compare(entry, key) < 0; });
  return static_cast<size_t>(found - order_.begin());
}

bool PathSet::insert(std::string_view path) {
  const size_t place = lowerBound(path);
  if (place < order_.size() && compare(order_[place], path) == 0) return false;
  const size_t slash = path.rfind('/');
  const size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
  const Entry entry{texts_.intern(path.substr(0, nameStart)), texts_.store(path.substr(nameStart))};
  // Grown by a quarter, not doubled.
  if (order_.size() == order_.capacity()) order_.reserve(order_.size() + order_.size() / 4 + 64);
  order_.insert(order_.begin() + static_cast<std::ptrdiff_t>(place), entry);
  return true;
}

size_t PathSet::count(std::string_view path) const {
  const size_t place = lowerBound(path);
  return place < order_.size() && compare(order_[place], path) == 0 ? 1 : 0;
}

void PathSet::clear() { *this = PathSet(); }
