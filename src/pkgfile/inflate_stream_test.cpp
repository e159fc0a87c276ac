#include "pkgfile/inflate_stream.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "pkgfile/package_stream.h"
#include "support/package_writer.h"

namespace {

// Bytes that compress poorly, so that the compressed data spans several
// input refills.
std::string noise(size_t size, uint32_t seed) {
  std::string out(size, '\0');
  uint32_t state = seed * 2654435761u + 1;
  for (size_t i = 0; i < size; ++i) {
    state = state * 1103515245u + 12345u;
    out[i] = static_cast<char>(state >> 24);
  }
  return out;
}

// Reads 1000 bytes (through the window) and 5000 (straight into the buffer)
// in turn.
std::string readAll(std::istream& in) {
  std::string out;
  char chunk[5000];
  for (std::streamsize size = 1000; in.read(chunk, size) || in.gcount() > 0; size = 6000 - size)
    out.append(chunk, static_cast<size_t>(in.gcount()));
  return out;
}

// Sizes around whole 4096-byte windows: the last byte is followed by end of
// file, never by an extra byte.
TEST(InflateStream, DeliversExactlyTheDecompressedBytes) {
  const size_t sizes[] = {0, 1, 4095, 4096, 4097, 3 * 4096, 100000};
  for (size_t size : sizes) {
    for (bool compressible : {true, false}) {
      SCOPED_TRACE(std::to_string(size) + (compressible ? " compressible" : " noise"));
      std::string data = compressible ? std::string(size, 'a') : noise(size, static_cast<uint32_t>(size));
      std::stringbuf source(zlibCompress(data), std::ios::in);
      InflateStream in(&source);
      EXPECT_EQ(readAll(in), data);
      EXPECT_TRUE(in.eof());
      EXPECT_EQ(in.get(), EOF);  // no extra byte after the last
    }
  }
}

TEST(InflateStream, BytesAfterTheCompressedDataAreNeverDelivered) {
  std::string data = noise(10000, 3);
  std::string trailing = "TRAILING BYTES THAT ARE NOT PART OF THE ZLIB STREAM";
  std::stringbuf source(zlibCompress(data) + trailing + std::string(9000, 'x'), std::ios::in);
  InflateStream in(&source);
  EXPECT_EQ(readAll(in), data);
  EXPECT_EQ(in.get(), EOF);
}

TEST(InflateStream, TruncatedDataDeliversWhatCouldBeInflatedThenEnds) {
  std::string data = noise(50000, 4);
  std::string compressed = zlibCompress(data);
  for (size_t cut : {size_t(0), size_t(1), size_t(2), compressed.size() / 2, compressed.size() - 4, compressed.size() - 1}) {
    SCOPED_TRACE(cut);
    std::stringbuf source(compressed.substr(0, cut), std::ios::in);
    InflateStream in(&source);
    std::string out = readAll(in);
    EXPECT_TRUE(in.eof());
    EXPECT_LT(out.size(), cut < compressed.size() - 4 ? data.size() : data.size() + 1);
    EXPECT_EQ(out, data.substr(0, out.size()));
    if (cut == compressed.size() / 2) {
      EXPECT_GT(out.size(), data.size() / 4);
    }
  }
}

TEST(InflateStream, DataThatIsNotZlibEndsAtOnce) {
  std::stringbuf source(std::string("this is not a zlib stream at all"), std::ios::in);
  InflateStream in(&source);
  EXPECT_EQ(in.get(), EOF);
  EXPECT_TRUE(in.fail());
}

TEST(InflateStream, SeeksForwardBySkipping) {
  std::string data = noise(30000, 6);
  std::stringbuf source(zlibCompress(data), std::ios::in);
  InflateStream in(&source);

  ASSERT_TRUE(in.seekg(0, std::ios::cur));  // forward by 0 changes nothing
  EXPECT_EQ(in.tellg(), 0);
  EXPECT_EQ(in.get(), static_cast<unsigned char>(data[0]));
  ASSERT_TRUE(in.seekg(5000, std::ios::cur));
  EXPECT_EQ(in.tellg(), 5001);
  EXPECT_EQ(in.get(), static_cast<unsigned char>(data[5001]));
  ASSERT_TRUE(in.seekg(20000));  // from the start, forward
  EXPECT_EQ(in.get(), static_cast<unsigned char>(data[20000]));

  EXPECT_FALSE(in.seekg(-1, std::ios::cur));  // backward
  in.clear();
  EXPECT_FALSE(in.seekg(100));
  in.clear();
  EXPECT_FALSE(in.seekg(0, std::ios::end));  // from the end
  in.clear();
  EXPECT_EQ(in.get(), static_cast<unsigned char>(data[20001]));  // failed seeks moved nothing

  EXPECT_FALSE(in.seekg(static_cast<std::streamoff>(data.size()), std::ios::cur));  // beyond the end
}

TEST(InflateStream, SeekingToTheVeryEndSucceeds) {
  std::string data = noise(9000, 7);
  std::stringbuf source(zlibCompress(data), std::ios::in);
  InflateStream in(&source);
  ASSERT_TRUE(in.seekg(static_cast<std::streamoff>(data.size()), std::ios::cur));
  EXPECT_EQ(in.get(), EOF);
}

TEST(InflateStream, OneCharacterCanBeGivenBackAfterARefill) {
  // Compressible, so that each refill fills the whole window; varied, so
  // that each position has its own byte.
  std::string data(3 * InflateStreamBuf::kWindowSize, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i % 251);
  std::stringbuf source(zlibCompress(data), std::ios::in);
  InflateStream in(&source);
  std::string window(InflateStreamBuf::kWindowSize, '\0');
  ASSERT_TRUE(in.read(&window[0], static_cast<std::streamsize>(window.size())));
  ASSERT_EQ(in.get(), static_cast<unsigned char>(data[4096]));  // the refill happened here
  ASSERT_TRUE(in.unget());
  ASSERT_TRUE(in.unget());  // the last byte of the previous window was kept
  EXPECT_FALSE(in.unget());
  in.clear();
  EXPECT_EQ(in.get(), static_cast<unsigned char>(data[4095]));
  EXPECT_EQ(in.get(), static_cast<unsigned char>(data[4096]));
}

TEST(InflateStream, ReadsOnlyTheCurrentPartOfAPackage) {
  std::string data = noise(40000, 10);
  std::string bytes = PackageWriter()
                          .part(kFileContainerPart, zlibCompress(data))
                          .part(kSignaturePart, std::string(68, 's'))
                          .bytes();
  for (bool hashing : {false, true}) {
    SCOPED_TRACE(hashing);
    std::stringbuf source(bytes, std::ios::in);
    PackageStream package(&source, hashing);
    package.acceptPart(kFileContainerPart);
    package.acceptPart(kSignaturePart);
    ASSERT_EQ(package.nextPart(), kFileContainerPart);
    {
      InflateStream in(package);
      EXPECT_EQ(readAll(in), data);
    }
    EXPECT_EQ(package.nextPart(), kSignaturePart);
    EXPECT_EQ(package.partLength(), 68u);
    EXPECT_EQ(package.remaining(), 68u);
  }
}

TEST(InflateStream, AContainerCutByItsPartEndStopsThere) {
  std::string data = noise(40000, 11);
  std::string compressed = zlibCompress(data);
  std::string bytes = PackageWriter()
                          .part(kFileContainerPart, compressed.substr(0, compressed.size() / 2))
                          .part(kSignaturePart, compressed.substr(compressed.size() / 2))
                          .bytes();
  std::stringbuf source(bytes, std::ios::in);
  PackageStream package(&source, true);
  package.acceptPart(kFileContainerPart);
  ASSERT_EQ(package.nextPart(), kFileContainerPart);
  InflateStream in(package);
  std::string out = readAll(in);
  EXPECT_LT(out.size(), data.size());
  EXPECT_EQ(out, data.substr(0, out.size()));
}

}  // namespace
