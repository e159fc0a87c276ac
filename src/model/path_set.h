// The paths a package installed, as a sorted set held compactly: a package of
// many files keeps its names and a four-byte reference for each, not a tree
// node and a string.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/text_arena.h"
#include "platform/position_iterator.h"

class PathSet {
 public:
  // Walks the paths in plain byte order; each is copied into the iterator
  // when it is looked at.
  using Iterator = PositionIterator<PathSet, std::string>;

  // False when the path is in the set already.
  bool insert(std::string_view path);
  size_t count(std::string_view path) const;
  size_t size() const { return order_.size(); }
  bool empty() const { return order_.empty(); }
  void clear();
  Iterator begin() const { return Iterator(this, 0); }
  Iterator end() const { return Iterator(this, order_.size()); }

 private:
  friend Iterator;
  std::string_view at(size_t position) const { return texts_.text(order_[position]); }
  void build(size_t position, std::string* path) const { path->assign(at(position)); }
  size_t lowerBound(std::string_view path) const;

  TextArena texts_;
  // The paths in order; a path comes mostly after the last one.
  std::vector<uint32_t> order_;
};
