#include "pkgfile/inflate_stream.h"

#include <algorithm>
#include <cstring>

namespace {

// The zlib interface the program is written against; zlib checks only that
// the major number agrees, and the structure size passed along with it.
const char kZlibInterfaceVersion[] = "1.2.3";

// zlib counts output space in 32 bits.
constexpr size_t kMaxDirectRead = size_t{1} << 30;

const std::streambuf::pos_type kSeekFailed = std::streambuf::pos_type(std::streambuf::off_type(-1));

}  // namespace

InflateStreamBuf::InflateStreamBuf(std::streambuf* source)
    : DirectReadBuffer(area_, kWindowSize, kDirectRead), source_(source) {
  std::memset(&zstream_, 0, sizeof zstream_);
  // Raw deflate data after the header this buffer checks itself. A failed
  // initialisation shows up as the first refill's failure.
  inflateInit2_(&zstream_, -MAX_WBITS, kZlibInterfaceVersion, static_cast<int>(sizeof(z_stream)));
}

InflateStreamBuf::~InflateStreamBuf() { inflateEnd(&zstream_); }

bool InflateStreamBuf::takeHeader() {
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

size_t InflateStreamBuf::readInto(char* out, size_t size) {
  size = std::min(size, kMaxDirectRead);
  while (!finished_ && !headerRefused_) {
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
