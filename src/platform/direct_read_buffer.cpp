#include "platform/direct_read_buffer.h"

#include <algorithm>
#include <cstring>

DirectReadBuffer::DirectReadBuffer(char* area, size_t size, size_t directRead)
    : area_(area), size_(size), directRead_(directRead) {
  emptyArea();
}

DirectReadBuffer::int_type DirectReadBuffer::underflow() {
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  const bool keepsPutback = gptr() > eback();
  if (keepsPutback) area_[0] = gptr()[-1];
  const size_t got = readInto(area_ + 1, size_);
  if (got == 0) return traits_type::eof();
  setg(keepsPutback ? area_ : area_ + 1, area_ + 1, area_ + 1 + got);
  return traits_type::to_int_type(*gptr());
}

std::streamsize DirectReadBuffer::xsgetn(char_type* out, std::streamsize count) {
  std::streamsize done = 0;
  while (done < count) {
    const std::streamsize buffered = egptr() - gptr();
    if (buffered > 0) {
      const std::streamsize taken = std::min(buffered, count - done);
      std::memcpy(out + done, gptr(), static_cast<size_t>(taken));
      gbump(static_cast<int>(taken));
      done += taken;
    } else if (static_cast<size_t>(count - done) >= directRead_) {
      const size_t got = readInto(out + done, static_cast<size_t>(count - done));
      if (got == 0) break;
      done += static_cast<std::streamsize>(got);
      // The last byte stays there to be given back, as after a refill.
      area_[0] = out[done - 1];
      setg(area_, area_ + 1, area_ + 1);
    } else if (traits_type::eq_int_type(underflow(), traits_type::eof())) {
      break;
    }
  }
  return done;
}
