#include "model/text_arena.h"

#include <algorithm>
#include <cstring>

uint32_t TextArena::store(std::string_view value) {
  unsigned char length[5];
  size_t lengthBytes = 0;
  for (size_t rest = value.size();; rest >>= 7) {
    length[lengthBytes++] = static_cast<unsigned char>((rest & 0x7F) | (rest > 0x7F ? 0x80 : 0));
    if (rest <= 0x7F) break;
  }
  const size_t needed = lengthBytes + value.size();
  if (used_ + needed > kBlock) {
    blocks_.emplace_back(new char[std::max(needed, kBlock)]);
    used_ = 0;
  }
  char* at = blocks_.back().get() + used_;
  std::memcpy(at, length, lengthBytes);
  if (!value.empty()) std::memcpy(at + lengthBytes, value.data(), value.size());
  const auto ref = static_cast<uint32_t>((blocks_.size() - 1) << kBlockBits | used_);
  // The next text starts a block of its own after one too long to share.
  used_ = needed > kBlock ? kBlock : used_ + needed;
  return ref;
}

std::string_view TextArena::text(uint32_t ref) const {
  const auto* at = reinterpret_cast<const unsigned char*>(blocks_[ref >> kBlockBits].get()) + (ref & (kBlock - 1));
  size_t length = 0;
  for (unsigned shift = 0;; shift += 7) {
    const unsigned char byte = *at++;
    length |= size_t{byte & 0x7Fu} << shift;
    if ((byte & 0x80) == 0) break;
  }
  return std::string_view(reinterpret_cast<const char*>(at), length);
}

uint32_t TextArena::intern(std::string_view value) {
  if (internedAny_ && text(lastInterned_) == value) return lastInterned_;
  const auto known = interned_.find(value);
  if (known != interned_.end()) {
    lastInterned_ = known->second;
  } else {
    lastInterned_ = store(value);
    interned_.emplace(text(lastInterned_), lastInterned_);
  }
  internedAny_ = true;
  return lastInterned_;
}

uint32_t TextArena::storeRun(std::string_view value) {
  if (runAny_ && text(lastRun_) == value) return lastRun_;
  lastRun_ = store(value);
  runAny_ = true;
  return lastRun_;
}

void TextArena::clear() { *this = TextArena(); }
