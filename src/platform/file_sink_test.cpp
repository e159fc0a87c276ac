#include "platform/file_sink.h"

#include <gtest/gtest.h>

#include <string>

#include "support/scratch_dir.h"
#include "support/tmpfs_mount.h"

namespace {

// Bytes that differ from position to position, so that a lost or repeated
// chunk shows.
std::string pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + i / 251) & 0xFF);
  return bytes;
}

TEST(FileSink, SmallAndLargeWritesArriveInOrderByteForByte) {
  ScratchDir scratch;
  const std::string path = scratch / "image";
  const std::string bytes = pattern(100000);
  {
    FileSink sink(path);
    ASSERT_TRUE(sink.isOpen());
    // Single bytes, writes that fit the buffer, and one larger than it.
    for (size_t i = 0; i < 10; ++i) sink.sputc(bytes[i]);
    sink.sputn(bytes.data() + 10, 16000);
    sink.sputn(bytes.data() + 16010, 40000);
    sink.sputn(bytes.data() + 56010, bytes.size() - 56010);
    EXPECT_TRUE(sink.close());
  }
  EXPECT_EQ(readFile(path), bytes);
}

TEST(FileSink, CreatingTruncatesAnOldFile) {
  ScratchDir scratch;
  ASSERT_TRUE(writeFile(scratch / "image", "an older and longer image"));
  FileSink sink(scratch / "image");
  sink.sputn("new", 3);
  EXPECT_TRUE(sink.close());
  EXPECT_EQ(readFile(scratch / "image"), "new");
}

TEST(FileSink, AFileThatCannotBeCreatedIsNotOpenAndTakesNothing) {
  ScratchDir scratch;
  FileSink sink(scratch / "missing/image");
  EXPECT_FALSE(sink.isOpen());
  EXPECT_EQ(sink.sputn("abc", 3), 0);
  EXPECT_FALSE(sink.close());
}

TEST(FileSink, AFullDiskIsRememberedUntilTheClose) {
  ScratchDir scratch;
  TmpfsMount disk(scratch / "flash", 64 * 1024);
  if (!disk.mounted()) GTEST_SKIP() << "no tmpfs: " << disk.error();
  FileSink sink(scratch / "flash/image");
  ASSERT_TRUE(sink.isOpen());
  const std::string bytes = pattern(256 * 1024);
  // The writes beyond the disk's size fail; the small ones after them are
  // buffered and would look fine on their own.
  for (size_t offset = 0; offset < bytes.size(); offset += 8192) sink.sputn(bytes.data() + offset, 8192);
  sink.sputn("tail", 4);
  EXPECT_TRUE(sink.failed());
  EXPECT_FALSE(sink.close());
}

}  // namespace
