// Where a reader takes its bytes from (a file, standard input, one part of a
// package, decompressed data) and where a copy of them goes.
#pragma once

#include <cstddef>
#include <cstdint>

class ByteSource {
 public:
  virtual ~ByteSource() = default;

  // Up to `count` bytes into `out`; fewer only where the data ends or a read
  // failed.
  virtual size_t read(char* out, size_t count) = 0;
  // Passes over `count` bytes; false when the data ended first. Reads
  // through them unless the source can move without reading.
  virtual bool skip(uint64_t count);

 protected:
  static constexpr size_t kSkipChunk = 4096;
};

class ByteSink {
 public:
  virtual ~ByteSink() = default;

  // Appends `count` bytes; false when they did not all go.
  virtual bool write(const char* bytes, size_t count) = 0;
};
