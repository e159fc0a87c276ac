#include "platform/direct_read_buffer.h"

#include <algorithm>
#include <cstring>

DirectReadBuffer::DirectReadBuffer(char* area, size_t size, size_t directRead)
    : area_(area), size_(size), directRead_(directRead) {}

size_t DirectReadBuffer::dropBuffered(size_t count) {
  const size_t taken = std::min(count, buffered());
  next_ += taken;
  return taken;
}

size_t DirectReadBuffer::read(char* out, size_t count) {
  size_t done = 0;
  while (done < count) {
    if (buffered() > 0) {
      const size_t taken = std::min(buffered(), count - done);
      std::memcpy(out + done, area_ + next_, taken);
      next_ += taken;
      done += taken;
    } else if (count - done >= directRead_) {
      const size_t got = readInto(out + done, count - done);
      if (got == 0) break;
      done += got;
    } else {
      const size_t got = readInto(area_, size_);
      if (got == 0) break;
      next_ = 0;
      end_ = got;
    }
  }
  return done;
}
