#include "pkgfile/inflate_stream.h"

#include <algorithm>
#include <cstring>

namespace {

// The zlib interface the program is written against; zlib checks only that
// the major number agrees, and the structure size passed along with it.
const char kZlibInterfaceVersion[] = "1.2.3";

// zlib counts output space in 32 bits.
constexpr size_t kMaxDirectRead = size_t{1} << 30;

}  // namespace

InflateStream::InflateStream(ByteSource& source)
    : DirectReadBuffer(area_, kWindowSize, kDirectRead), source_(source) {
  std::memset(&zstream_, 0, sizeof zstream_);
  // Raw deflate data after the header this buffer checks itself. A failed
  // initialisation shows up as the first refill's failure.
  inflateInit2_(&zstream_, -MAX_WBITS, kZlibInterfaceVersion, static_cast<int>(sizeof(z_stream)));
}

InflateStream::~InflateStream() { inflateEnd(&zstream_); }

bool InflateStream::takeHeader() {
  while (headerBytes_ < sizeof header_ && zstream_.avail_in > 0) {
    header_[headerBytes_++] = *zstream_.next_in++;
    --zstream_.avail_in;
  }
  if (headerBytes_ < sizeof header_) return false;
  // Deflate with a window of at most 32 KiB, a check that divides by 31, and
  // no preset dictionary, which no package can supply.
  const unsigned method = header_[0] & 0x0f;
  const unsigned windowBits = (header_[0] >> 4) + 8;
  const unsigned check = (unsigned{header_[0]} << 8) | header_[1];
  headerRefused_ = method != Z_DEFLATED || windowBits > MAX_WBITS || check % 31 != 0 || (header_[1] & 0x20) != 0;
  return !headerRefused_;
}

size_t InflateStream::readInto(char* out, size_t size) {
  size = std::min(size, kMaxDirectRead);
  while (!finished_ && !headerRefused_) {
    // Refill the input when zlib has used it all. A dry source still gets
    // one inflate call, which delivers output zlib may be holding back.
    bool dry = false;
    if (zstream_.avail_in == 0) {
      const size_t got = source_.read(reinterpret_cast<char*>(input_), kInputSize);
      if (got > 0) {
        zstream_.next_in = input_;
        zstream_.avail_in = static_cast<uInt>(got);
      } else {
        dry = true;
      }
    }
    if (headerBytes_ < sizeof header_) {
      if (!takeHeader()) {
        if (headerRefused_ || dry) return 0;
        continue;
      }
      if (zstream_.avail_in == 0 && !dry) continue;  // the header was all the input
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
