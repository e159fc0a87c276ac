// The decompressing stream under a package's file container: zlib's inflate
// behind the standard stream interface, with fixed buffers and no allocation
// per read.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <istream>
#include <memory>

#include "platform/direct_read_buffer.h"

class InflateStreamBuf : public DirectReadBuffer {
 public:
  static constexpr size_t kWindowSize = 4096;
  static constexpr size_t kInputSize = 16384;
  static constexpr size_t kSkipChunk = 1024;
  // A read of at least this much that finds the window empty is inflated
  // straight into the reader's buffer, saving a copy through the window.
  static constexpr size_t kDirectRead = kWindowSize;

  // source: a zlib stream (RFC 1950); not owned. Its two header bytes are
  // checked as zlib checks them, its Adler-32 trailer is not read: the
  // container's signature covers every byte of it, and the check would
  // cost more than a twentieth of an install.
  explicit InflateStreamBuf(std::streambuf* source);
  ~InflateStreamBuf() override;
  InflateStreamBuf(const InflateStreamBuf&) = delete;
  InflateStreamBuf& operator=(const InflateStreamBuf&) = delete;

  // Bytes produced by zlib so far.
  uint64_t inflated() const { return inflated_; }

 protected:
  // Forward only, by reading through; from the end is refused. The result
  // is the new read position in the decompressed data.
  pos_type seekoff(off_type offset, std::ios_base::seekdir direction, std::ios_base::openmode which) override;
  pos_type seekpos(pos_type position, std::ios_base::openmode which) override;

 private:
  uint64_t position() const { return inflated_ - static_cast<uint64_t>(egptr() - gptr()); }
  // Reads and discards count bytes; false when the data ends first.
  bool skip(uint64_t count);
  // Inflates up to `size` bytes into `out`, refilling the input as zlib asks.
  // 0 when the data has ended, the source ran dry or zlib failed.
  size_t readInto(char* out, size_t size) override;
  // Takes the zlib header from the input; false once it proved wrong, and
  // while it has not all come.
  bool takeHeader();

  char area_[1 + kWindowSize];  // the putback byte, then the window
  unsigned char input_[kInputSize];
  z_stream zstream_;
  std::streambuf* source_;
  uint64_t inflated_ = 0;
  bool finished_ = false;  // zlib reported the end of the compressed data
  unsigned char header_[2] = {};
  size_t headerBytes_ = 0;
  bool headerRefused_ = false;
};

// An input stream of the decompressed data; owns its buffer, never the source.
class InflateStream : public std::istream {
 public:
  explicit InflateStream(std::istream& source);
  explicit InflateStream(std::streambuf* source);
  ~InflateStream() override;

 private:
  std::unique_ptr<InflateStreamBuf> buf_;
};
