// The paths a package installed, as a sorted set held compactly: a package of
// many files keeps its names and a four-byte reference for each, not a tree
// node and a string.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "model/text_arena.h"

class PathSet {
 public:
  // Walks the paths in plain byte order; each is copied into the iterator
  // when it is looked at.
  class Iterator {
   public:
    using iterator_category = std::input_iterator_tag;
    using value_type = std::string;
    using difference_type = std::ptrdiff_t;
    using pointer = const std::string*;
    using reference = const std::string&;

    Iterator(const PathSet* set, size_t position) : set_(set), position_(position) {}
    const std::string& operator*() const {
      path_.assign(set_->at(position_));
      return path_;
    }
    const std::string* operator->() const { return &**this; }
    Iterator& operator++() {
      ++position_;
      return *this;
    }
    bool operator==(const Iterator& other) const { return position_ == other.position_; }
    bool operator!=(const Iterator& other) const { return position_ != other.position_; }

   private:
    const PathSet* set_;
    size_t position_;
    mutable std::string path_;
  };

  // False when the path is in the set already.
  bool insert(std::string_view path);
  size_t count(std::string_view path) const;
  size_t size() const { return order_.size(); }
  bool empty() const { return order_.empty(); }
  void clear();
  Iterator begin() const { return Iterator(this, 0); }
  Iterator end() const { return Iterator(this, order_.size()); }

 private:
  std::string_view at(size_t position) const { return texts_.text(order_[position]); }
  size_t lowerBound(std::string_view path) const;

  TextArena texts_;
  // The paths in order; a path comes mostly after the last one.
  std::vector<uint32_t> order_;
};
