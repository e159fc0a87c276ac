// Reading package files: the part stream's hash accounting, hostile lengths, headers and names,
// where the inflating stream over a part ends, and which bytes a signature covers.
#include "pkgfile/package_stream.h"

#include <gtest/gtest.h>

#include "pkgfile/inflate_stream.h"
#include "pkgfile/package_file.h"
#include "pkgfile/package_signature.h"
#include "pkgfile/record_name.h"
#include "platform/string_bytes.h"
#include "support/package_writer.h"
#include "support/scratch_dir.h"

using namespace std::string_literals;

// The largest allocation while watching; out of line, so that no caller sees malloc and free.
static bool watching = false;
static size_t largest = 0;
[[gnu::noinline]] void* operator new(size_t size) {
  largest = watching && size > largest ? size : largest;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, size_t) noexcept { std::free(p); }

namespace {

PosixFileSystem posixFs;

// What the stream feeds the hash: one string per message, the last one open.
struct RecordingHash : Hash {
  explicit RecordingHash(std::vector<std::string>* log) : log(log) { log->emplace_back(); }
  void update(const void* data, size_t length) override { log->back().append(static_cast<const char*>(data), length); }
  void digest(unsigned char* out) override { std::fill(out, out + 20, 0), log->emplace_back(); }
  size_t digestLength() const override { return 20; }
  std::vector<std::string>* log;
};
// A stream hashing into `log` and copying to `copy`, from a source that cannot seek (a pipe).
struct Opened : StringSource {
  Opened(std::string bytes, std::initializer_list<uint32_t> accepted, bool hashing = true)
      : StringSource(std::move(bytes)), stream(this, hashing ? std::make_unique<RecordingHash>(&log) : nullptr, &copy) {
    for (uint32_t type : accepted) stream.acceptPart(type);
  }
  std::vector<std::string> log;
  StringSink copy;
  PackageStream stream;
};

// Reads and skips through a bundle with one member (parts beyond the 16 KiB skip buffer), then
// the signature taken unhashed. The file header is never hashed, the member's header part begins a
// message, and every byte is hashed and copied once; a skip past its part moves nothing.
TEST(PackageStream, EveryByteIsHashedAndCopiedOnceHoweverItIsRead) {
  PackageWriter writer;
  const size_t member = writer.part(18, headerPayload("routing")).part(7, incompressibleBytes(40000)).bytes().size();
  const std::string bytes = writer.part(1, headerPayload("routing-core", 1, 2, 1)).part(3, incompressibleBytes(100))
                                .part(4, incompressibleBytes(50000)).part(9, incompressibleBytes(70)).bytes();
  for (bool hashing : {true, false}) {
    Opened in(bytes, {18, 1, 3, 9}, hashing);
    PackageStream& stream = in.stream;
    char some[64];
    unsigned char taken[80];
    ASSERT_TRUE(stream.nextPart() == 18 && stream.read(some, 5) == 5 && stream.read(some, 8) == 8);
    ASSERT_TRUE(stream.skip(3) && stream.position() == 16);
    ASSERT_TRUE(stream.nextPart() == 1 && stream.read(some, 1) == 1 && some[0] == 'r');  // the rest and part 7 skipped
    ASSERT_TRUE(stream.read(some, 20) == 20 && !stream.streamBuf()->skip(stream.remaining() + 1) && stream.position() == 21);
    ASSERT_TRUE(stream.nextPart() == 3 && stream.read(some, 7) == 7 && stream.skip(23) && stream.position() == 30);
    ASSERT_TRUE(stream.nextPart() == 9 && stream.read(some, 2) == 2);  // the container skipped
    ASSERT_EQ(stream.streamBuf()->takeUnhashed(taken, 4) + stream.streamBuf()->takeUnhashed(taken + 4, 80), 68u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(taken), 68), bytes.substr(bytes.size() - 68));
    EXPECT_TRUE(stream.good() && stream.nextPart() == kNoPart && stream.endedAtFileEnd());
    EXPECT_EQ(in.copy.bytes(), bytes);
    const std::vector<std::string> messages{bytes.substr(8, member - 8), bytes.substr(member, bytes.size() - 68 - member), ""};
    EXPECT_EQ(in.log, hashing ? messages : std::vector<std::string>{});
  }
}

// Lengths past the end, or wrapping around 32 bits: a part the reader acts on (3, 4) breaks the
// stream, one it skips (7) ends the parts as the end of the file does. The parts end the file
// only at the size its header gives, with nothing skipped or left over.
TEST(PackageStream, HostileFileHeadersAndLengths) {
  const struct { std::string bytes; bool broken, endedAtFileEnd; } cases[] = {
      {PackageWriter().part(3, "ab").bytes(), false, true},
      {PackageWriter(kWriterUnregisteredMagic).part(3, "ab").bytes(), false, true},
      {PackageWriter().part(3, "ab").raw(std::string("\x09\x00\x44", 3)).bytes(), false, false},
      {PackageWriter().part(3, "ab").part(7, "x").bytes(), false, false},
      {PackageWriter().part(3, "ab").part(7, 100, "short").part(9, "s").bytes(), false, false},
      {PackageWriter().part(3, "ab").part(7, 100, "short").lengthField(1000).bytes(), true, false},
      {PackageWriter().part(3, "ab").part(4, 100, "short").part(9, "s").bytes(), true, false},
      {PackageWriter().part(3, "ab").part(7, ~0u, "x").lengthField(~0u - 8).bytes(), false, false},
      {PackageWriter().part(3, "ab").part(4, ~0u, "x").lengthField(~0u - 8).bytes(), true, false},
  };
  for (const auto& c : cases) {
    Opened in(c.bytes, {3, 4});
    EXPECT_EQ(in.stream.isUnregistered(), c.bytes[0] == '\xfb');
    while (in.stream.nextPart() != kNoPart) continue;
    EXPECT_TRUE(in.stream.isBroken() == c.broken && in.stream.endedAtFileEnd() == c.endedAtFileEnd) << in.copy.bytes();
    EXPECT_EQ(in.copy.bytes(), c.bytes.substr(0, c.endedAtFileEnd ? c.bytes.size() : in.copy.bytes().size()));
  }
}

// Around 4096-byte windows, read 1000 bytes through the window and 5000 straight in turn: the data
// ends before the bytes after it in its part, and where it is cut though it runs on into the next
// part. Skips read forward through the window, and where reading stands counts what it holds.
TEST(InflateStream, DeliversTheDecompressedBytesUpToTheEndOrTheCut) {
  for (size_t size : {0, 1, 4095, 4096, 4097, 3 * 4096, 100000}) {
    for (const std::string& data : {std::string(size, 'a'), incompressibleBytes(size)}) {
      const std::string compressed = zlibCompress(data) + "zz";
      for (size_t cut : {compressed.size(), compressed.size() - 6, compressed.size() / 2, size_t{2}, size_t{0}}) {
        Opened in(PackageWriter().part(4, compressed.substr(0, cut)).part(9, compressed.substr(cut)).bytes(), {4});
        ASSERT_EQ(in.stream.nextPart(), 4);
        InflateStream inflating(in.stream);
        std::string out;
        char chunk[5000];
        for (size_t n = 1000, got; (got = inflating.read(chunk, n)) > 0; n = 6000 - n) out.append(chunk, got);
        EXPECT_EQ(out, data.substr(0, cut == compressed.size() ? size : out.size())) << size << " cut at " << cut;
        EXPECT_TRUE(out.size() < size || cut >= compressed.size() - 6 || size < 2) << size << " cut at " << cut;
      }
    }
  }
  const std::string data = incompressibleBytes(10000);
  StringSource source(zlibCompress(data));
  InflateStream in(source);
  char window[4096];
  ASSERT_TRUE(in.read(window, 4096) == 4096 && in.read(window, 1) == 1 && window[0] == data[4096]);  // after a refill
  EXPECT_TRUE(in.skip(5000) && in.position() == 9097 && in.read(window, 1) == 1 && window[0] == data[9097]);
  EXPECT_TRUE(!in.skip(903) && in.position() == 10000);
}

// On a thread of its own or on the reader's, inflating gives the same bytes, whether copied or taken in place, and
// the source is read at the same points of the reading: the order in which a copy or a counted call on the way
// comes.
TEST(InflateStream, ReadsTheSourceAtTheSamePointsOnEitherThread) {
  struct Logged : StringSource {
    using StringSource::StringSource;
    size_t read(char* out, size_t n) override {
      const size_t got = StringSource::read(out, n);
      log += std::to_string(*at) + ":" + std::to_string(got) + " ";
      return got;
    }
    std::string log;
    const uint64_t* at = nullptr;
  };
  for (const std::string& data : {std::string(300000, 'a'), incompressibleBytes(300000), std::string()}) {
    std::string logs[2], outs[2];
    for (int inlined : {0, 1}) {
      Logged source(zlibCompress(data));
      InflateStream in(source, inlined ? InflateStream::Threading::kInline : InflateStream::Threading::kBackground);
      uint64_t at = 0;
      source.at = &at;
      std::vector<char> chunk(70000);
      for (size_t n = 1, got = 1; got > 0; n = n * 7 % 69997 + 1) {
        at = in.position();
        const char* taken = n % 2 == 0 ? in.take(n) : nullptr;
        got = taken != nullptr ? n : in.read(chunk.data(), n);
        outs[inlined].append(taken != nullptr ? taken : chunk.data(), got);
      }
      logs[inlined] = source.log;
    }
    EXPECT_EQ(outs[0], data);
    EXPECT_EQ(outs[1], data);
    EXPECT_EQ(logs[0], logs[1]);
    EXPECT_NE(logs[0].find(":0 "), std::string::npos);  // the end of the source is read too
  }
}

// The zlib header may come a byte at a time; a header zlib would refuse gives no data at all, and the trailer is
// never read.
TEST(InflateStream, TakesTheHeaderInAnyPiecesAndRefusesAWrongOne) {
  struct ByteByByte : StringSource {
    using StringSource::StringSource;
    size_t read(char* out, size_t n) override { return StringSource::read(out, n > 0); }
  };
  const std::string data = incompressibleBytes(5000), compressed = zlibCompress(data);
  const std::string body = compressed.substr(2, compressed.size() - 6);
  const struct {
    std::string header;
    size_t delivered;
  } rows[] = {
      {compressed.substr(0, 2), data.size()},
      {"\x08\x1d", data.size()},  // a window of 256 bytes is told, not enforced, as zlib does
      {"\x79\x18", 0},            // method 9
      {"\x78\x9d", 0},            // the check does not divide by 31
      {"\x88\x98", 0},            // a window of 64 KiB
      {"\x78\xbb", 0},            // a preset dictionary
  };
  for (const auto& row : rows) {
    ByteByByte source(row.header + body + "????");
    InflateStream in(source);
    std::string out;
    char chunk[8192];
    for (size_t got; (got = in.read(chunk, sizeof chunk)) > 0;) out.append(chunk, got);
    EXPECT_EQ(out.size(), row.delivered) << testing::PrintToString(row.header);
    EXPECT_TRUE(row.delivered == 0 || out == data);
  }
}

std::string part(uint16_t type, const std::string& payload) { return partHeader(type, uint32_t(payload.size())) + payload; }
std::string file(const std::string& parts) { return PackageWriter().raw(parts).bytes(); }
std::string member(const std::string& name) {
  return part(1, headerPayload(name, 1, 2)) + part(4, zlibCompress(fileRecord(0100644, 0, name, "x"))) + part(9, "sig");
}
std::string read(const std::string& bytes) {  // name, flags, architecture, list sizes, members; "" when refused
  StringSource source(bytes);
  PackageStream stream(&source, true);
  PackageInfo r;
  if (!readPackageFileParts(r, stream)) return "";
  std::string out = r.name + " " + std::to_string(r.flags) + " " + r.architecture + " " +
                    std::to_string(r.depends.size()) + std::to_string(r.provides.size()) + (r.hasImage ? " image" : "");
  for (const auto& m : r.members) out += " [" + m->name + (m->hasImage ? " image]" : "]");
  return out;
}

// A bundle member cut in its header, or of an unsafe name, ends the bundle, which is refused.
TEST(PackageHeader, CandidateFilesAreReadOrRefused) {
  const std::string a = part(1, headerPayload("a")), b = part(18, headerPayload("b", 3, 4)), two = listPayload({{"o"}, {"t"}});
  const std::string flagged = headerPayload("a", 1, 2, 1) + "tail", huge = partHeader(23, 0xC0000000u) + "abc";
  const std::pair<std::string, std::string> cases[] = {
      {file(part(1, flagged.substr(0, 35))), "a 0 i386 00"},  // the flags need all four bytes
      {file(part(1, flagged)), "a 1 i386 00"},
      {file(a + part(16, "")), "a 0  00"},
      {file(a + part(7, "x") + part(3, two) + part(16, "powerpc") + part(19, two)), "a 0 i386 20"},  // out of order
      {file(b + part(16, "powerpc") + part(21, "i") + part(20, two) + member("one") + part(21, "i") + member("two")),
       "b 0 powerpc 00 image [one image] [two]"},
      {file(b + member("sixteen-letters!") + "\x01"), "b 0 i386 00 [sixteen-letters!]"},
      {file(b + member("ab\0cd"s).substr(0, 60)), "b 0 i386 00 [ab]"},  // installing finds the cut
      {file(part(1, flagged.substr(0, 31))), ""},
      {file(a + part(3, listPayload({{"o"}, {"t"}}, 3))), ""},
      {file(a + part(3, two.substr(0, 40))), ""},
      {file(a + huge), ""},
      {PackageWriter().raw(a + huge).lengthField(0xF0000000u).bytes(), ""},
      {file(part(7, "x") + part(3, "")), ""},
      {file(b), ""},
      {file(b + member("one") + partHeader(1, 32) + "two"), ""},
  };
  for (const auto& [bytes, expected] : cases) EXPECT_EQ(read(bytes), expected) << testing::PrintToString(bytes);
  for (const char* name : {"...", "x-1_2+3.", "\xc3\xa9t\xc3\xa9", "~!"}) EXPECT_NE(read(file(b + member(name))), "") << name;
  for (const char* name : {"", ".", "..", "a/b", "/", "a b", "a\x01", "\x7f"}) EXPECT_EQ(read(file(b + member(name))), "") << name;
  ScratchDir scratch;  // containers of 1 MB to skip, and a length of 3 GB, take fixed buffers only
  ASSERT_TRUE(writeFile(scratch / "large.vpa", file(b + member("one") + part(4, std::string(1 << 20, 'z')) + member("two"))));
  StringSource claim(PackageWriter().raw(a + partHeader(24, 0xC0000000u) + "four").lengthField(~0u - 8).bytes());
  PackageStream stream(&claim, true);
  PackageFile large, claimed;
  watching = true;
  const bool read = loadPackageFile(posixFs, large, scratch / "large.vpa") && !readPackageFileParts(claimed, stream);
  watching = false;
  EXPECT_TRUE(read && large.members.size() == 2 && largest < 64u << 10) << largest;
}

// Below the flash root, never out of it, and a file.
TEST(RecordName, OnlyNamesOfFilesBelowTheFlashRootAreSafe) {
  for (const char* name : {"bin/a", "/bin/a", "a..b/..c", "x/./.y", "bin//a"}) EXPECT_TRUE(isSafeRecordName(name)) << name;
  for (const std::string& name : {""s, ".."s, "../x"s, "bin/../../x"s, "/.."s, "bin/"s, "bin/."s, "."s, "a\nb"s, "a\0/../b"s})
    EXPECT_FALSE(isSafeRecordName(name)) << testing::PrintToString(name);
}

const PrivateKey& key = developmentSigningKey();
std::string parts(const std::string& name) {  // one package, from its header part to its signature part
  return partHeader(1, 36) + headerPayload(name, 1, 2, 0) + partHeader(16, 1) + "p" + partHeader(7, 1) + "o" + partHeader(4, 2) + "zz";
}
// The verdict on each signature part, met as installing meets it (header bytes read, the rest skipped).
std::vector<bool> verdicts(const std::string& bytes, const PublicKey& with = key.publicKey, bool hashing = true) {
  StringSource source(bytes);
  PackageStream stream(&source, hashing);
  for (uint32_t type : {1, 18, 20, 16, 3, 19, 17, 21, 4, 9}) stream.acceptPart(type);
  std::vector<bool> results;
  char name[16];
  for (int32_t type = stream.nextPart(); type != kNoPart; type = stream.nextPart()) {
    if (type == kSignaturePart) results.push_back(verifySignature(stream, with));
    if (type == kPackageHeaderPart) stream.read(name, sizeof name);
  }
  return results;
}

// A signature covers its package from the header part to the signature part's header: not the
// file header (its magic, its length made larger), nor what follows its 68 bytes; a bundle
// member's the member alone, the bundle header none. A short one fails, and other sigHash tables.
TEST(VerifySignature, CoversEachPackageFromItsHeaderPartToTheSignaturePartHeader) {
  const std::string one = PackageWriter().raw(signedPackageParts(key, parts("base"), "tail") + partHeader(4, 2) + "zz").bytes();
  const size_t covered = 8 + parts("base").size() + 6;
  for (size_t at = 5; at < one.size(); ++at) {
    std::string changed = one;
    changed[at] ^= at < 8 ? 0x40 : 0x01;
    EXPECT_EQ(verdicts(changed) == std::vector<bool>{true}, at < 8 || at >= covered + 68) << at;
  }
  EXPECT_EQ(verdicts(PackageWriter(kWriterUnregisteredMagic).raw(one.substr(8)).bytes()), std::vector<bool>{true});
  EXPECT_EQ(verdicts(one, key.publicKey, false), std::vector<bool>{false});  // a stream that does not hash
  const std::string head = partHeader(18, 32) + headerPayload("bundle") + partHeader(20, 2) + std::string(2, '\0');
  const std::string first = signedPackageParts(key, parts("first")), signature = first.substr(first.size() - 68);
  const std::string bundle = PackageWriter().raw(head + first + signedPackageParts(key, parts("second"))).bytes();
  for (size_t at : {size_t{8}, 7 + head.size(), 8 + head.size(), 7 + head.size() + first.size() - 74}) {
    std::string changed = bundle;
    changed[at] ^= 0x20;
    EXPECT_EQ(verdicts(changed), (std::vector<bool>{at < 8 + head.size(), true})) << at;
  }
  for (const std::string& cut : {partHeader(9, 67) + signature.substr(0, 67), partHeader(9, 68) + signature.substr(0, 60)})
    EXPECT_EQ(verdicts(PackageWriter().raw(parts("first") + cut).lengthField(4096).bytes()), std::vector<bool>{false});
  PublicKey other = key.publicKey;
  other.tables.roundConstants[17] ^= 1;
  EXPECT_EQ(verdicts(one, other), std::vector<bool>{false});
}

}  // namespace
