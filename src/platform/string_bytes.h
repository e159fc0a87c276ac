// Bytes held in memory as a source, and a sink that gathers a copy in memory:
// for readers fed from a string instead of a file (unit tests, fuzz targets).
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "platform/byte_source.h"

// Hands out its bytes in order; skips read through them, as over a pipe.
class StringSource : public ByteSource {
 public:
  explicit StringSource(std::string bytes) : bytes_(std::move(bytes)) {}

  size_t read(char* out, size_t count) override {
    const size_t taken = std::min(count, bytes_.size() - next_);
    std::memcpy(out, bytes_.data() + next_, taken);
    next_ += taken;
    return taken;
  }

 private:
  std::string bytes_;
  size_t next_ = 0;
};

// Every byte written, in order; a write never fails.
class StringSink : public ByteSink {
 public:
  bool write(const char* bytes, size_t count) override {
    bytes_.append(bytes, count);
    return true;
  }
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
};
