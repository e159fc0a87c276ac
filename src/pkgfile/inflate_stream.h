// The decompressing source under a package's file container: zlib's inflate
// behind a byte source, with fixed buffers and no allocation per read.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>

#include "platform/direct_read_buffer.h"

class InflateStream : public DirectReadBuffer {
 public:
  static constexpr size_t kWindowSize = 4096;
  static constexpr size_t kInputSize = 16384;
  // A read of at least this much that finds the window empty is inflated
  // straight into the reader's buffer, saving a copy through the window.
  static constexpr size_t kDirectRead = kWindowSize;

  // source: a zlib stream (RFC 1950); not owned. Its two header bytes are
  // checked as zlib checks them, its Adler-32 trailer is not read: the
  // container's signature covers every byte of it, and the check would
  // cost more than a twentieth of an install.
  explicit InflateStream(ByteSource& source);
  ~InflateStream() override;
  InflateStream(const InflateStream&) = delete;
  InflateStream& operator=(const InflateStream&) = delete;

  // Bytes produced by zlib so far.
  uint64_t inflated() const { return inflated_; }
  // How far into the decompressed data reading stands.
  uint64_t position() const { return inflated_ - buffered(); }

 private:
  // Inflates up to `size` bytes into `out`, refilling the input as zlib asks.
  // 0 when the data has ended, the source ran dry or zlib failed.
  size_t readInto(char* out, size_t size) override;
  // Takes the zlib header from the input; false once it proved wrong, and
  // while it has not all come.
  bool takeHeader();

  char area_[kWindowSize];
  unsigned char input_[kInputSize];
  z_stream zstream_;
  ByteSource& source_;
  uint64_t inflated_ = 0;
  bool finished_ = false;  // zlib reported the end of the compressed data
  unsigned char header_[2] = {};
  size_t headerBytes_ = 0;
  bool headerRefused_ = false;
};
