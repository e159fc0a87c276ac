// Many short texts kept without an allocation each: stored one after another
// in blocks that never move, each named by a 32-bit reference. A text shared
// by many (the directory of many paths) can be kept once for all of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

class TextArena {
 public:
  // Copies `text` in; its view stays good until the arena is cleared.
  uint32_t store(std::string_view text);
  // The reference of `text` as stored by an earlier intern, or a new one.
  uint32_t intern(std::string_view text);
  // The reference of `text` when the last storeRun kept it, or a new one:
  // a text that comes in runs (the directory of paths in order) is kept once
  // a run, without the table intern keeps.
  uint32_t storeRun(std::string_view text);
  std::string_view text(uint32_t ref) const;
  void clear();

 private:
  static constexpr uint32_t kBlockBits = 16;
  static constexpr size_t kBlock = size_t{1} << kBlockBits;

  // A text is its length, seven bits a byte, low bits first, then its bytes;
  // one longer than a block has a block of its own.
  std::vector<std::unique_ptr<char[]>> blocks_;
  size_t used_ = kBlock;
  std::unordered_map<std::string_view, uint32_t> interned_;
  uint32_t lastInterned_ = 0;  // texts mostly come in runs of one directory
  bool internedAny_ = false;
  uint32_t lastRun_ = 0;
  bool runAny_ = false;
};
