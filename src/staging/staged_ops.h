// The operations a transaction stages, keyed by the path each changes, held
// compactly: a run that stages many files keeps some forty bytes for each,
// its destination's directory and a staged file's name stem shared.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/text_arena.h"
#include "platform/position_iterator.h"

enum class OpKind : uint32_t {
  Move = 0,    // the source is renamed to the destination
  Create = 1,  // the transaction's temporary file is renamed to the destination
  Link = 3,    // a symbolic link to the source text is made at the destination
  Remove = 4,  // the destination is deleted
};

// The size of a staged file that the transaction has not been told.
constexpr uint32_t kUnknownSize = 0xFFFFFFFF;

struct StagedOp {
  OpKind kind;
  // Move: the file to move; Create: the temporary file; Link: the link text;
  // Remove: empty.
  std::string source;
  // Create: the bytes of the temporary file once its writer has told them.
  uint32_t size = kUnknownSize;
};

class StagedOps {
 public:
  using Entry = std::pair<std::string, StagedOp>;
  static constexpr size_t npos = static_cast<size_t>(-1);

  // Walks the operations in plain byte order of their paths ("/a" before
  // "/a/b" before "/ab"). Each is built when it is looked at, into the
  // iterator itself: a reference stays good until the iterator moves.
  using Iterator = PositionIterator<StagedOps, Entry>;

  StagedOps() = default;
  StagedOps(StagedOps&&) = default;
  StagedOps& operator=(StagedOps&&) = default;

  bool empty() const { return order_.empty(); }
  size_t size() const { return order_.size(); }
  Iterator begin() const { return Iterator(this, 0); }
  Iterator end() const { return Iterator(this, order_.size()); }

  // The position of `destination` in path order, or npos.
  size_t find(std::string_view destination) const;
  OpKind kindAt(size_t position) const;
  // Sets `entry` to the operation at `position`.
  void build(size_t position, Entry* entry) const;

  // Stages an operation for a destination that has none; returns its
  // number, which stays its own until clear().
  uint32_t insert(std::string_view destination, OpKind kind, std::string_view source);
  // Puts another operation in the place of the one at `position`, under the
  // same number.
  uint32_t replace(size_t position, OpKind kind, std::string_view source);
  // The number of the operation at `position`.
  uint32_t idAt(size_t position) const { return order_[position]; }
  // The kind and size of an operation by its number, without a search.
  OpKind kindById(uint32_t id) const;
  void setSizeById(uint32_t id, uint32_t size) { record(id).size = size; }
  void setSize(size_t position, uint32_t size);
  void erase(size_t position);
  void clear();

 private:
  // A destination is its directory (through the last '/', shared) and the
  // rest; a source is text, or the shared stem of a staged file and the
  // three letters that count within it.
  struct Record {
    uint32_t dir;
    uint32_t name;
    uint32_t source;
    uint32_t size;
    uint8_t kindAndForm;
    char count[3];
  };

  Record& record(uint32_t id) { return recordBlocks_[id / kRecordsPerBlock][id % kRecordsPerBlock]; }
  const Record& record(uint32_t id) const { return recordBlocks_[id / kRecordsPerBlock][id % kRecordsPerBlock]; }
  const Record& at(size_t position) const { return record(order_[position]); }
  int compare(const Record& record, std::string_view key) const;
  void setSource(Record* record, OpKind kind, std::string_view source);

  static constexpr uint32_t kRecordsPerBlock = 1024;

  // Records in the order they were staged; a dropped one is left unused.
  std::vector<std::unique_ptr<Record[]>> recordBlocks_;
  uint32_t recordCount_ = 0;
  // Record numbers in path order.
  std::vector<uint32_t> order_;
  // Names and texts; directories and stems each stored once.
  TextArena texts_;
};
