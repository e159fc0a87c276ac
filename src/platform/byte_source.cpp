#include "platform/byte_source.h"

#include <algorithm>

bool ByteSource::skip(uint64_t count) {
  char chunk[kSkipChunk];
  while (count > 0) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(count, kSkipChunk));
    if (read(chunk, want) != want) return false;
    count -= want;
  }
  return true;
}
