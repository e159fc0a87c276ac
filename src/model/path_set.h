// The paths a package installed, as a sorted set held compactly: each
// directory is stored once, and a path is a reference to its directory and
// its name, eight bytes and the name's text, not a tree node and a string.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/text_arena.h"
#include "platform/position_iterator.h"

// Compares the path `dir` + `name` with `key` in plain byte order ("/a"
// before "/a/b" before "/ab"): negative, zero or positive.
int compareSplitPath(std::string_view dir, std::string_view name, std::string_view key);

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
  // A path is its directory, through the last '/', and the rest.
  struct Entry {
    uint32_t dir;
    uint32_t name;
  };

  int compare(const Entry& entry, std::string_view key) const;
  void build(size_t position, std::string* path) const;
  size_t lowerBound(std::string_view path) const;

  TextArena texts_;
  // The paths in order; a path comes mostly after the last one.
  std::vector<Entry> order_;
};
