#include "platform/file_sink.h"

#include <gtest/gtest.h>

#include <string>

#include "support/scratch_dir.h"

namespace {

PosixFileSystem posixFs;

// Single bytes, pieces that fit the buffer and pieces larger than it, in turn across several refills of the buffer:
// every byte arrives once, in order (bytes differ from position to position, so a repeated or lost piece shows).
TEST(FileSink, WritesOfEverySizeArriveInOrderByteForByte) {
  ScratchDir scratch;
  std::string bytes(400000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 131 + i / 251) & 0xFF);
  {
    FileSink sink(posixFs, scratch / "file");
    const size_t pieces[] = {1, 7, 1000, 70000, 1, 30000};
    for (size_t at = 0, i = 0; at < bytes.size(); at += pieces[i++ % 6]) {
      const size_t size = std::min(pieces[i % 6], bytes.size() - at);
      sink.write(bytes.data() + at, size);
    }
    ASSERT_TRUE(sink.close());
  }
  EXPECT_EQ(readFile(scratch / "file"), bytes);
}

}  // namespace
