#include "pkgfile/package_stream.h"

#include <gtest/gtest.h>

#include <fstream>
#include <initializer_list>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "support/package_writer.h"
#include "support/scratch_dir.h"

namespace {

// Records what the stream feeds the hash, one string per finished message.
struct HashLog {
  std::string open;
  std::vector<std::string> finished;
};

class RecordingHash : public Hash {
 public:
  explicit RecordingHash(HashLog* log) : log_(log) {}
  void update(const void* data, size_t length) override { log_->open.append(static_cast<const char*>(data), length); }
  void digest(unsigned char* out) override {
    for (size_t i = 0; i < kLength; ++i) out[i] = static_cast<unsigned char>(log_->finished.size() + i);
    log_->finished.push_back(log_->open);
    log_->open.clear();
  }
  size_t digestLength() const override { return kLength; }

 private:
  static constexpr size_t kLength = 20;
  HashLog* log_;
};

// A source that cannot seek, as standard input from a pipe.
class UnseekableBuf : public std::stringbuf {
 public:
  explicit UnseekableBuf(const std::string& bytes) : std::stringbuf(bytes, std::ios::in) {}

 protected:
  pos_type seekoff(off_type, std::ios_base::seekdir, std::ios_base::openmode) override { return pos_type(-1); }
  pos_type seekpos(pos_type, std::ios_base::openmode) override { return pos_type(-1); }
};

// A stream over bytes in memory accepting the given part types. With a log
// it hashes into the log and copies to `tee`.
struct Opened {
  Opened(const std::string& bytes, bool hashing, std::initializer_list<uint32_t> accepted)
      : source(bytes, std::ios::in), stream(&source, hashing) {
    for (uint32_t type : accepted) stream.acceptPart(type);
  }
  Opened(const std::string& bytes, HashLog* log, std::initializer_list<uint32_t> accepted)
      : source(bytes, std::ios::in), stream(&source, std::unique_ptr<Hash>(new RecordingHash(log)), &tee) {
    for (uint32_t type : accepted) stream.acceptPart(type);
  }
  std::stringbuf source, tee;
  PackageStream stream;
};

std::string pattern(size_t size, unsigned seed) {
  std::string out(size, '\0');
  for (size_t i = 0; i < size; ++i) out[i] = static_cast<char>((i * 31 + seed * 7 + (i >> 8)) & 0xFF);
  return out;
}

std::string readPayload(PackageStream& stream, size_t count) {
  std::string out(count, '\0');
  stream.read(&out[0], static_cast<std::streamsize>(count));
  out.resize(static_cast<size_t>(stream.gcount()));
  return out;
}

// A bundle with one member: bundle header, an unknown part, the member's
// header, depends, container and signature. Large parts cross the 16 KiB
// skip buffer.
struct SampleFile {
  std::string bytes;
  size_t memberHeaderAt = 0;  // file offset of the member's type-1 part header
};

SampleFile sampleFile() {
  PackageWriter writer;
  writer.part(kBundleHeaderPart, headerPayload("routing", 0x06280066, 100)).part(7, pattern(40000, 1));
  SampleFile sample;
  sample.memberHeaderAt = writer.bytes().size();
  writer.part(kPackageHeaderPart, headerPayload("routing-core", 0x06280066, 100, 1))
      .part(kDependsPart, listPayload({{"system", 0x06280000, 0, 0}}))
      .part(kFileContainerPart, pattern(50000, 2))
      .part(kSignaturePart, pattern(100, 3));
  sample.bytes = writer.bytes();
  return sample;
}

struct StreamMode {
  const char* name;
  bool hashing;
  bool teeing;
  bool seekable;
};

class EveryByteOnce : public testing::TestWithParam<StreamMode> {};

// Reads through the sample with every kind of movement: reads, give-backs,
// forward seeks, peeks, readsome, skipped parts, skipped remainders.
void walkSample(PackageStream& stream) {
  for (uint32_t type : {kBundleHeaderPart, kPackageHeaderPart, kDependsPart, kSignaturePart}) stream.acceptPart(type);
  char bytes[64];

  ASSERT_EQ(stream.nextPart(), kBundleHeaderPart);
  stream.read(bytes, 5);
  ASSERT_TRUE(stream.unget());
  ASSERT_TRUE(stream.unget());
  stream.read(bytes, 10);
  ASSERT_TRUE(stream.seekg(3, std::ios::cur));
  EXPECT_EQ(stream.tellg(), 16);  // 5 read, 2 given back, 10 read, 3 skipped

  ASSERT_EQ(stream.nextPart(), kPackageHeaderPart);  // skips the rest and the unknown part
  ASSERT_EQ(stream.get(), 'r');
  ASSERT_TRUE(stream.putback('r'));
  ASSERT_EQ(stream.get(), 'r');
  ASSERT_EQ(stream.peek(), 'o');
  stream.read(bytes, 20);

  ASSERT_EQ(stream.nextPart(), kDependsPart);
  EXPECT_GT(stream.readsome(bytes, 7), 0);
  ASSERT_TRUE(stream.unget());
  ASSERT_TRUE(stream.seekg(30, std::ios::beg));

  ASSERT_EQ(stream.nextPart(), kSignaturePart);  // skips the container
  stream.read(bytes, 64);
  ASSERT_EQ(stream.nextPart(), kNoPart);
}

TEST_P(EveryByteOnce, ReadingSkippingAndGivingBackTouchEachByteOnce) {
  StreamMode mode = GetParam();
  SampleFile sample = sampleFile();
  std::unique_ptr<std::stringbuf> source(mode.seekable ? new std::stringbuf(sample.bytes, std::ios::in)
                                                        : new UnseekableBuf(sample.bytes));
  std::stringbuf tee;
  HashLog log;
  std::unique_ptr<Hash> hash(mode.hashing ? new RecordingHash(&log) : nullptr);
  PackageStream stream(source.get(), std::move(hash), mode.teeing ? &tee : nullptr);

  walkSample(stream);
  EXPECT_FALSE(stream.isBroken());

  if (mode.teeing) {
    EXPECT_EQ(tee.str(), sample.bytes);  // byte for byte, file header included
  }
  if (mode.hashing) {
    // The file header is never hashed; the member's header part begins a
    // new message, and the end of the file closes the last one.
    ASSERT_EQ(log.finished.size(), 2u);
    EXPECT_EQ(log.finished[0], sample.bytes.substr(8, sample.memberHeaderAt - 8));
    EXPECT_EQ(log.finished[1], sample.bytes.substr(sample.memberHeaderAt));
    EXPECT_TRUE(log.open.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(PackageStream, EveryByteOnce,
                         testing::Values(StreamMode{"HashAndTee", true, true, true},
                                         StreamMode{"HashOnly", true, false, true},
                                         StreamMode{"TeeOnly", false, true, true},
                                         StreamMode{"HashAndTeeFromPipe", true, true, false},
                                         StreamMode{"PlainFromPipe", false, false, false}),
                         [](const testing::TestParamInfo<StreamMode>& info) { return info.param.name; });

// Even a file header cut short is copied whole to the tee.
TEST(PackageStream, FileHeaderGivesMagicAndSizeAndIsCopied) {
  struct Case {
    std::string bytes;
    uint32_t magic;
    uint32_t fileSize;
    bool usable;
    bool unregistered;
  };
  std::string plain = PackageWriter(kWriterPackageMagic).part(kPackageHeaderPart, headerPayload("a")).bytes();
  std::string unregistered =
      PackageWriter(kWriterUnregisteredMagic).part(kPackageHeaderPart, headerPayload("a")).bytes();
  std::string wrong = PackageWriter(0xBAD0F11F).part(kPackageHeaderPart, headerPayload("a")).bytes();
  const Case cases[] = {
      {plain, kPackageMagic, 46, true, false},
      {unregistered, kUnregisteredMagic, 46, true, true},
      {wrong, 0xBAD0F11F, 46, false, false},
      {plain.substr(0, 7), kNoMagic, 0, false, false},
      {plain.substr(0, 3), kNoMagic, 0, false, false},
      {"", kNoMagic, 0, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes.size());
    std::stringbuf source(c.bytes, std::ios::in), tee;
    PackageStream stream(&source, false, &tee);
    stream.acceptPart(kPackageHeaderPart);
    EXPECT_EQ(stream.magic(), c.magic);
    EXPECT_EQ(stream.fileSize(), c.fileSize);
    EXPECT_EQ(stream.isUnregistered(), c.unregistered);
    EXPECT_EQ(tee.str(), c.bytes.substr(0, 8));
    EXPECT_EQ(stream.nextPart(), c.usable ? kPackageHeaderPart : kNoPart);
  }
}

TEST(PackageStream, UnacceptedPartsAreSkippedAndOffsetsFollowTheFile) {
  std::string bytes = PackageWriter()
                          .part(kPackageHeaderPart, headerPayload("a"))
                          .part(7, "seven")
                          .part(kDependsPart, listPayload({}))
                          .part(1000, std::string(3, 'x'))
                          .part(kSignaturePart, "sig")
                          .bytes();
  Opened in(bytes, false, {kSignaturePart, kDependsPart});
  ASSERT_EQ(in.stream.nextPart(), kDependsPart);
  EXPECT_EQ(in.stream.partOffset(), 8u + 6 + 32 + 6 + 5 + 6);
  EXPECT_EQ(in.stream.partLength(), 2u);
  ASSERT_EQ(in.stream.nextPart(), kSignaturePart);
  EXPECT_EQ(in.stream.partOffset(), bytes.size() - 3);
  EXPECT_EQ(readPayload(in.stream, 3), "sig");
  EXPECT_EQ(in.stream.nextPart(), kNoPart);
  EXPECT_EQ(in.stream.partType(), kNoPart);
  EXPECT_FALSE(in.stream.isBroken());
}

TEST(PackageStream, ReadsStopAtTheEndOfThePart) {
  Opened in(PackageWriter().part(kDependsPart, "abcd").part(kSignaturePart, "efgh").bytes(), true,
            {kDependsPart, kSignaturePart});
  PackageStream& stream = in.stream;
  char buffer[8];
  ASSERT_EQ(stream.nextPart(), kDependsPart);
  EXPECT_EQ(stream.readsome(buffer, sizeof buffer), 4);  // never beyond the part
  EXPECT_EQ(stream.peek(), EOF);                        // sets only eof
  EXPECT_TRUE(stream.eof());
  EXPECT_FALSE(stream.fail());
  ASSERT_EQ(stream.nextPart(), kSignaturePart);  // the eof of a finished part is cleared
  EXPECT_FALSE(stream.read(buffer, 5));          // one byte past the part fails
  EXPECT_EQ(stream.gcount(), 4);
  EXPECT_EQ(stream.nextPart(), kNoPart);  // and the failure ends the sequence
}

TEST(PackageStream, GivingBackIsRefusedAtTheStartOfThePayload) {
  Opened in(PackageWriter().part(kDependsPart, "xy").bytes(), true, {kDependsPart});
  PackageStream& stream = in.stream;
  ASSERT_EQ(stream.nextPart(), kDependsPart);
  EXPECT_FALSE(stream.unget());
  stream.clear();
  EXPECT_EQ(stream.get(), 'x');
  EXPECT_TRUE(stream.unget());
  EXPECT_EQ(stream.remaining(), 2u);
  EXPECT_FALSE(stream.unget());  // back at the start again
}

TEST(PackageStream, SeeksArePayloadRelative) {
  std::string payload = pattern(100, 4);
  std::string bytes = PackageWriter().part(7, "before").part(kDependsPart, payload).part(7, "after").bytes();
  for (bool hashing : {false, true}) {  // a hashing stream cannot seek backward
    SCOPED_TRACE(hashing);
    Opened in(bytes, hashing, {kDependsPart});
    PackageStream& stream = in.stream;
    ASSERT_EQ(stream.nextPart(), kDependsPart);
    ASSERT_TRUE(stream.seekg(40));
    EXPECT_EQ(stream.tellg(), 40);
    EXPECT_EQ(stream.get(), static_cast<unsigned char>(payload[40]));
    EXPECT_EQ(static_cast<bool>(stream.seekg(10)), !hashing);
    stream.clear();
    EXPECT_FALSE(stream.seekg(101));  // beyond the part
    stream.clear();
    EXPECT_FALSE(stream.seekg(-1, std::ios::end));  // from the end: refused
    stream.clear();
    ASSERT_TRUE(stream.seekg(100));  // the very end of the part
    EXPECT_EQ(stream.get(), EOF);
  }
}

TEST(PackageStream, SkipsThroughAFileWithoutHashing) {
  ScratchDir scratch;
  std::string payload = pattern(70000, 5);
  ASSERT_TRUE(PackageWriter()
                  .part(kFileContainerPart, payload)
                  .part(kImagePart, payload)
                  .part(kSignaturePart, "tail")
                  .writeTo(scratch / "p.vpa"));
  std::ifstream file(scratch / "p.vpa", std::ios::binary);
  PackageStream stream(file, false);
  stream.acceptPart(kImagePart);
  stream.acceptPart(kSignaturePart);
  ASSERT_EQ(stream.nextPart(), kImagePart);
  ASSERT_TRUE(stream.seekg(65000));
  EXPECT_EQ(readPayload(stream, 10), payload.substr(65000, 10));
  ASSERT_TRUE(stream.seekg(5));  // back again, the file can seek
  EXPECT_EQ(readPayload(stream, 10), payload.substr(5, 10));
  ASSERT_EQ(stream.nextPart(), kSignaturePart);
  EXPECT_EQ(readPayload(stream, 4), "tail");
}

TEST(PackageStream, AFileEndingInsideAPartHeaderEndsNormally) {
  std::string bytes = PackageWriter().part(kDependsPart, "ab").raw(std::string("\x09\x00\x44", 3)).bytes();
  HashLog log;
  Opened in(bytes, &log, {kSignaturePart});
  EXPECT_EQ(in.stream.nextPart(), kNoPart);
  EXPECT_TRUE(in.stream.eof());
  EXPECT_FALSE(in.stream.isBroken());
  EXPECT_EQ(in.tee.str(), bytes);
  ASSERT_EQ(log.finished.size(), 1u);  // the end of the file finished the hash
  EXPECT_EQ(log.finished[0], bytes.substr(8, bytes.size() - 8 - 3));
}

// A part that claims more than the file holds breaks the stream when the
// reader acts on it; one the reader only skips ends the parts, as the end of
// the file does. A source that runs dry inside a part breaks it either way.
TEST(PackageStream, APartRunningPastTheEndOfTheFileEndsOrBreaksTheStream) {
  struct Case {
    const char* what;
    std::string bytes;
    bool hashing;
    bool longPartAccepted;
    bool broken;
  };
  std::string pastHeaderLength =
      PackageWriter().part(kDependsPart, "ab").part(7, 100, "short").part(kSignaturePart, "s").bytes();
  std::string pastRealEnd = PackageWriter().part(kDependsPart, "ab").part(7, 100, "short").lengthField(1000).bytes();
  std::string hugeLength =
      PackageWriter().part(kDependsPart, "ab").part(7, 0xFFFFFFF0, "x").lengthField(0xFFFFFFF0).bytes();
  const Case cases[] = {
      {"beyond the header's file size, skipped, seeking", pastHeaderLength, false, false, false},
      {"beyond the header's file size, skipped, hashing", pastHeaderLength, true, false, false},
      {"beyond the header's file size, accepted", pastHeaderLength, true, true, true},
      {"data ends before the part, skipped", pastRealEnd, true, false, true},
      {"length wrapping around 32 bits, skipped", hugeLength, false, false, false},
      {"length wrapping around 32 bits, accepted", hugeLength, false, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Opened in(c.bytes, c.hashing, {kDependsPart, kSignaturePart, c.longPartAccepted ? 7u : uint32_t{kSignaturePart}});
    ASSERT_EQ(in.stream.nextPart(), kDependsPart);
    EXPECT_EQ(in.stream.nextPart(), kNoPart);
    EXPECT_EQ(in.stream.isBroken(), c.broken);
    EXPECT_EQ(in.stream.nextPart(), kNoPart);
  }
}

// The signature's bytes are taken unhashed yet copied; the rest of the part is
// skipped into the hash. (Which bytes the digest covers is checked byte by
// byte with the signature check.)
TEST(PackageStream, BytesGivenBackBeforeAnUnhashedTakeAreNotCopiedTwice) {
  std::string bytes = PackageWriter().part(kSignaturePart, "0123456789").bytes();
  HashLog log;
  Opened in(bytes, &log, {kSignaturePart});
  ASSERT_EQ(in.stream.nextPart(), kSignaturePart);
  char two[2];
  in.stream.read(two, 2);
  ASSERT_TRUE(in.stream.unget());
  unsigned char out[4];
  EXPECT_EQ(in.stream.streamBuf()->takeUnhashed(out, sizeof out), 4u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 4), "1234");
  EXPECT_EQ(in.stream.streamBuf()->takeUnhashed(out, 0), 0u);
  EXPECT_EQ(in.stream.nextPart(), kNoPart);
  EXPECT_EQ(in.tee.str(), bytes);
  ASSERT_EQ(log.finished.size(), 1u);
  EXPECT_EQ(log.finished[0], partHeader(kSignaturePart, 10) + "01" + "56789");
}

TEST(PackageStream, UnhashedTakeStopsAtThePartEnd) {
  Opened in(PackageWriter().part(kSignaturePart, std::string(67, 's')).part(7, "next").bytes(), true,
            {kSignaturePart});
  ASSERT_EQ(in.stream.nextPart(), kSignaturePart);
  unsigned char out[68];
  EXPECT_EQ(in.stream.streamBuf()->takeUnhashed(out, sizeof out), 67u);
  EXPECT_EQ(in.stream.streamBuf()->remaining(), 0u);
}

}  // namespace
