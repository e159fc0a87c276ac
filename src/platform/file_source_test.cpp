#include "platform/file_source.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "support/scratch_dir.h"

namespace {

std::string pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + i / 251);
  return bytes;
}

// Reads 1000 bytes (through the buffer) and 5000 (straight into the
// caller's) in turn.
std::string readAll(std::streambuf& source) {
  std::string out;
  char chunk[5000];
  for (std::streamsize got, size = 1000; (got = source.sgetn(chunk, size)) > 0; size = 6000 - size)
    out.append(chunk, got);
  return out;
}

TEST(FileSource, ReadsAFileLargerThanItsBufferWhole) {
  ScratchDir dir;
  std::string content = pattern(40000);
  ASSERT_TRUE(writeFile(dir / "f", content));
  FileSource source(dir / "f");
  ASSERT_TRUE(source.isOpen());
  EXPECT_EQ(readAll(source), content);
  EXPECT_FALSE(source.readFailed());
}

// A directory opens, ends its data at once and is never read as a file.
TEST(FileSource, ADirectoryEndsTheDataInsteadOfThrowing) {
  ScratchDir dir;
  ASSERT_EQ(::mkdir((dir / "d.vpa").c_str(), 0755), 0);
  FileSource source(dir / "d.vpa");
  ASSERT_TRUE(source.isOpen());
  EXPECT_EQ(source.sgetc(), std::char_traits<char>::eof());
  EXPECT_TRUE(source.readFailed());
}

TEST(FileSource, AMissingFileIsNotOpenAndGivesNoData) {
  ScratchDir dir;
  FileSource source(dir / "absent");
  EXPECT_FALSE(source.isOpen());
  EXPECT_EQ(source.sbumpc(), std::char_traits<char>::eof());
}

TEST(FileSource, SeeksRelativeToWhatWasReadNotToWhatWasBuffered) {
  ScratchDir dir;
  std::string content = pattern(50000);
  ASSERT_TRUE(writeFile(dir / "f", content));
  FileSource source(dir / "f");
  char head[10];
  ASSERT_EQ(source.sgetn(head, 10), 10);
  EXPECT_EQ(source.pubseekoff(0, std::ios_base::cur, std::ios_base::in), std::streampos(10));
  // Within the buffer, then past it.
  EXPECT_EQ(source.pubseekoff(1000, std::ios_base::cur, std::ios_base::in), std::streampos(1010));
  EXPECT_EQ(source.sungetc(), std::char_traits<char>::eof());  // no byte given back after a seek
  EXPECT_EQ(source.sbumpc(), static_cast<unsigned char>(content[1010]));
  EXPECT_EQ(source.pubseekoff(20000, std::ios_base::cur, std::ios_base::in), std::streampos(21011));
  EXPECT_EQ(source.sbumpc(), static_cast<unsigned char>(content[21011]));
  EXPECT_EQ(source.pubseekpos(3, std::ios_base::in), std::streampos(3));
  EXPECT_EQ(source.sbumpc(), static_cast<unsigned char>(content[3]));
}

TEST(FileSource, GivesBackOneByteAfterARefill) {
  ScratchDir dir;
  std::string content = pattern(16384 + 5);
  ASSERT_TRUE(writeFile(dir / "f", content));
  FileSource source(dir / "f");
  std::string first(16384, '\0');
  ASSERT_EQ(source.sgetn(&first[0], 16384), 16384);
  ASSERT_EQ(source.sbumpc(), static_cast<unsigned char>(content[16384]));  // refilled
  ASSERT_NE(source.sungetc(), std::char_traits<char>::eof());
  EXPECT_EQ(source.sbumpc(), static_cast<unsigned char>(content[16384]));
}

TEST(FileSource, APipeCannotSeekButReadsAndLeavesTheDescriptorOpen) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ASSERT_EQ(::write(fds[1], "abcdef", 6), 6);
  ::close(fds[1]);
  {
    FileSource source(fds[0]);
    EXPECT_EQ(source.pubseekoff(2, std::ios_base::cur, std::ios_base::in), std::streampos(-1));
    EXPECT_EQ(readAll(source), "abcdef");
  }
  EXPECT_EQ(::close(fds[0]), 0);  // still open: not owned
}

}  // namespace
