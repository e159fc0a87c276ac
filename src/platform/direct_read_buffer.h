// A source read through one fixed area; a read of at least a window that
// finds the area empty goes straight into the reader's memory, saving a copy.
#pragma once

#include <cstddef>

#include "platform/byte_source.h"

class DirectReadBuffer : public ByteSource {
 public:
  size_t read(char* out, size_t count) override;

 protected:
  // area: `size` bytes owned by the derived source. Reads of at least
  // `directRead` bytes bypass it.
  DirectReadBuffer(char* area, size_t size, size_t directRead);

  // At most `size` bytes into `out`; 0 when the data has ended or a read failed.
  virtual size_t readInto(char* out, size_t size) = 0;
  // Bytes read into the area and not yet taken.
  size_t buffered() const { return end_ - next_; }
  // Takes up to `count` buffered bytes without copying them; returns how many.
  size_t dropBuffered(size_t count);
  // Forgets what is buffered, as after a seek.
  void emptyArea() { next_ = end_ = 0; }

 private:
  char* area_;
  size_t size_;
  size_t directRead_;
  size_t next_ = 0;
  size_t end_ = 0;
};
