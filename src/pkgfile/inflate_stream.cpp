#include "pkgfile/inflate_stream.h"

#include <algorithm>
#include <cstring>

namespace {

using Traits = std::streambuf::traits_type;

// The zlib interface the program is written against; zlib checks only that
// the major number agrees, and the structure size passed along with it.
const char kZlibInterfaceVersion[] = "1.2.3";

// zlib counts output space in 32 bits.
constexpr size_t kMaxDirectRead = size_t{1} << 30;

const std::streambuf::pos_type kSeekFailed = std::streambuf::pos_type(std::streambuf::off_type(-1));

}  // namespace

InflateStreamBuf::InflateStreamBuf(std::streambuf* source) : source_(source) {
  std::memset(&zstream_, 0, sizeof zstream_);
  // A failed initialisation shows up as the first refill's failure.
  inflateInit_(&zstream_, kZlibInterfaceVersion, static_cast<int>(sizeof(z_stream)));
  setg(window(), window(), window());
}

InflateStreamBuf::~InflateStreamBuf() { inflateEnd(&zstream_); }

InflateStreamBuf::int_type InflateStreamBuf::underflow() {
  if (gptr() < egptr()) return Traits::to_int_type(*gptr());
  // Keep the last byte read, so that it can be given back after the refill.
  const bool keep = egptr() > eback();
  if (keep) area_[0] = egptr()[-1];
  const size_t produced = inflateInto(window(), kWindowSize);
  if (produced == 0) return Traits::eof();
  // New bytes become the get area, behind the kept byte.
  setg(keep ? area_ : window(), window(), window() + produced);
  return Traits::to_int_type(*gptr());
}

std::streamsize InflateStreamBuf::xsgetn(char_type* out, std::streamsize count) {
  std::streamsize done = 0;
  while (done < count) {
    const std::streamsize buffered = egptr() - gptr();
    if (buffered > 0) {
      const std::streamsize taken = std::min(buffered, count - done);
      std::memcpy(out + done, gptr(), static_cast<size_t>(taken));
      gbump(static_cast<int>(taken));
      done += taken;
    } else if (static_cast<size_t>(count - done) >= kDirectRead) {
      const size_t want = std::min<size_t>(static_cast<size_t>(count - done), kMaxDirectRead);
      const size_t produced = inflateInto(out + done, want);
      if (produced == 0) break;
      done += static_cast<std::streamsize>(produced);
      // The last byte stays there to be given back, as after a refill.
      area_[0] = out[done - 1];
      setg(area_, window(), window());
    } else if (Traits::eq_int_type(underflow(), Traits::eof())) {
      break;
    }
  }
  return done;
}

size_t InflateStreamBuf::inflateInto(char* out, size_t size) {
  while (!finished_) {
    // Refill the input when zlib has used it all. A dry source still gets
    // one inflate call, which delivers output zlib may be holding back.
    bool dry = false;
    if (zstream_.avail_in == 0) {
      std::streamsize got = source_ ? source_->sgetn(reinterpret_cast<char*>(input_), kInputSize) : 0;
      if (got > 0) {
        zstream_.next_in = input_;
        zstream_.avail_in = static_cast<uInt>(got);
      } else {
        dry = true;
      }
    }
    zstream_.next_out = reinterpret_cast<Bytef*>(out);
    zstream_.avail_out = static_cast<uInt>(size);
    int result = inflate(&zstream_, Z_PARTIAL_FLUSH);
    if (result == Z_STREAM_END)
      finished_ = true;
    else if (result != Z_OK)
      return 0;
    const size_t produced = size - zstream_.avail_out;
    inflated_ += produced;
    if (produced > 0) return produced;
    // Nothing yet: go on unless the data or the source has ended.
    if (dry) return 0;
  }
  return 0;
}

bool InflateStreamBuf::skip(uint64_t count) {
  char chunk[kSkipChunk];
  while (count > 0) {
    std::streamsize want = static_cast<std::streamsize>(std::min<uint64_t>(count, kSkipChunk));
    if (sgetn(chunk, want) != want) return false;
    count -= static_cast<uint64_t>(want);
  }
  return true;
}

InflateStreamBuf::pos_type InflateStreamBuf::seekoff(off_type offset, std::ios_base::seekdir direction,
                                                     std::ios_base::openmode which) {
  if (!(which & std::ios_base::in)) return kSeekFailed;
  off_type current = static_cast<off_type>(position());
  off_type forward;
  if (direction == std::ios_base::cur)
    forward = offset;
  else if (direction == std::ios_base::beg)
    forward = offset - current;
  else
    return kSeekFailed;
  if (forward < 0 || !skip(static_cast<uint64_t>(forward))) return kSeekFailed;
  return pos_type(current + forward);
}

InflateStreamBuf::pos_type InflateStreamBuf::seekpos(pos_type position, std::ios_base::openmode which) {
  return seekoff(off_type(position), std::ios_base::beg, which);
}

InflateStream::InflateStream(std::istream& source) : InflateStream(source.rdbuf()) {}

InflateStream::InflateStream(std::streambuf* source)
    : std::istream(nullptr), buf_(new InflateStreamBuf(source)) {
  rdbuf(buf_.get());
}

InflateStream::~InflateStream() = default;
