// The input iterator of a container read by position whose values are built
// when they are looked at, into the iterator itself: the container's
// build(position, Value*) makes them, and a reference stays good until the
// iterator moves.
#pragma once

#include <cstddef>
#include <iterator>

template <typename Container, typename Value>
class PositionIterator {
 public:
  using iterator_category = std::input_iterator_tag;
  using value_type = Value;
  using difference_type = std::ptrdiff_t;
  using pointer = const Value*;
  using reference = const Value&;

  PositionIterator(const Container* container, size_t position) : container_(container), position_(position) {}
  const Value& operator*() const {
    if (built_ != position_) {
      container_->build(position_, &value_);
      built_ = position_;
    }
    return value_;
  }
  const Value* operator->() const { return &**this; }
  PositionIterator& operator++() {
    ++position_;
    return *this;
  }
  bool operator==(const PositionIterator& other) const { return position_ == other.position_; }
  bool operator!=(const PositionIterator& other) const { return position_ != other.position_; }

 private:
  static constexpr size_t kNothingBuilt = static_cast<size_t>(-1);

  const Container* container_;
  size_t position_;
  mutable size_t built_ = kNothingBuilt;
  mutable Value value_;
};
