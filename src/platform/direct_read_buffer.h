// A read-only stream buffer over one fixed area whose first byte keeps the last byte read, so that it can be
// given back after a refill; a read of at least a window that finds the area empty goes straight into the
// reader's memory, saving a copy.
#pragma once

#include <cstddef>
#include <streambuf>

class DirectReadBuffer : public std::streambuf {
 protected:
  // area: the putback byte, then `size` bytes of data, owned by the derived buffer. Reads of at least
  // `directRead` bytes bypass it.
  DirectReadBuffer(char* area, size_t size, size_t directRead);

  // At most `size` bytes into `out`; 0 when the data has ended or a read failed.
  virtual size_t readInto(char* out, size_t size) = 0;
  // An empty get area at the start of the data, as after a seek.
  void emptyArea() { setg(area_ + 1, area_ + 1, area_ + 1); }

  int_type underflow() override;
  std::streamsize xsgetn(char_type* out, std::streamsize count) override;

 private:
  char* area_;
  size_t size_;
  size_t directRead_;
};
