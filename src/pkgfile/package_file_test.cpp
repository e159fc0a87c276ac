#include "pkgfile/package_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <new>
#include <sstream>
#include <string>

#include "platform/little_endian.h"
#include "support/package_writer.h"
#include "support/scratch_dir.h"

// Every allocation of this test program passes here, so that a test can see
// how much a load asked for while it ran.
namespace {
struct AllocationLog {
  bool on = false;
  size_t total = 0;
  size_t largest = 0;
};
AllocationLog allocations;

void* allocate(size_t size) {
  if (allocations.on) {
    allocations.total += size;
    if (size > allocations.largest) allocations.largest = size;
  }
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
}  // namespace

void* operator new(size_t size) { return allocate(size); }
void* operator new[](size_t size) { return allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace {

// Counts what is allocated between construction and stop().
class AllocationWatch {
 public:
  AllocationWatch() { allocations = AllocationLog{true, 0, 0}; }
  ~AllocationWatch() { allocations.on = false; }
  void stop() { allocations.on = false; }
  size_t total() const { return allocations.total; }
  size_t largest() const { return allocations.largest; }
};

PackageWriter plainPackage(const std::string& name, uint32_t magic = kWriterPackageMagic) {
  PackageWriter writer(magic);
  writer.part(kPackageHeaderPart, headerPayload(name, 0x06280066, 77))
      .part(kArchitecturePart, "powerpc")
      .part(kDependsPart, listPayload({{"system", 0x06280000, 0, 0}}))
      .part(kFileContainerPart, zlibCompress(fileRecord(0100644, 0, "bin/x", "x")))
      .part(kSignaturePart, std::string(68, 's'));
  return writer;
}

// Member parts: a header (36 bytes when flags are given), a container and a
// signature.
void addMember(PackageWriter& writer, const std::string& name, bool bootImage) {
  writer
      .part(kPackageHeaderPart,
            bootImage ? headerPayload(name, 1, 2, PackageFlag::BootImage) : headerPayload(name, 1, 2))
      .part(kDependsPart, listPayload({{"system", 0, 0, 0}}))
      .part(kFileContainerPart, zlibCompress(fileRecord(0100644, 0, name, "content")))
      .part(kSignaturePart, std::string(68, 's'));
}

class PackageFileTest : public testing::Test {
 protected:
  bool load(const std::string& bytes, PackageFile& record) {
    std::string path = scratch_ / "candidate.vpa";
    if (!writeFile(path, bytes)) return false;
    return loadPackageFile(record, path);
  }
  bool load(const std::string& bytes) {
    PackageFile record;
    return load(bytes, record);
  }
  ScratchDir scratch_;
};

TEST_F(PackageFileTest, HeaderLengthMustBeTheSizeOnDiskLessEight) {
  std::string bytes = plainPackage("a").bytes();
  uint32_t exact = static_cast<uint32_t>(bytes.size() - 8);
  struct Case {
    uint32_t lengthField;
    bool ok;
  };
  for (Case c : {Case{exact, true}, Case{exact + 1, false}, Case{exact - 1, false}, Case{0xFFFFFFFF, false}}) {
    SCOPED_TRACE(c.lengthField);
    std::string file = bytes;
    putLe32(reinterpret_cast<unsigned char*>(&file[4]), c.lengthField);
    EXPECT_EQ(load(file), c.ok);
  }
}

TEST_F(PackageFileTest, UnregisteredFilesLoadLikeOrdinaryOnes) {
  PackageFile ordinary, unregistered;
  ASSERT_TRUE(load(plainPackage("a").bytes(), ordinary));
  ASSERT_TRUE(load(plainPackage("a", kWriterUnregisteredMagic).bytes(), unregistered));
  EXPECT_EQ(unregistered.name, ordinary.name);
  EXPECT_EQ(unregistered.version, ordinary.version);
  EXPECT_EQ(unregistered.architecture, "powerpc");
  EXPECT_EQ(unregistered.depends.size(), 1u);
  EXPECT_EQ(unregistered.path, scratch_ / "candidate.vpa");
}

// Each way a header read can fail is covered beside the header reader; here
// only that such a failure refuses the file.
TEST_F(PackageFileTest, BrokenFilesAreRefused) {
  struct Case {
    const char* what;
    std::string bytes;
  };
  const Case cases[] = {
      {"empty", ""},
      {"wrong magic", PackageWriter(0x1EF1D0BA).part(kPackageHeaderPart, headerPayload("a")).bytes()},
      {"no header part", PackageWriter().part(kDependsPart, listPayload({})).bytes()},
      {"only unknown parts", PackageWriter().part(7, "x").part(4, "y").bytes()},
      {"list count past its entries",
       PackageWriter().part(kPackageHeaderPart, headerPayload("a")).part(kDependsPart, listPayload({}, 1)).bytes()},
      {"text part past the end", PackageWriter()
                                     .part(kPackageHeaderPart, headerPayload("a"))
                                     .part(kArchitecturePart, 0xFFFFFF00u, "ppc")
                                     .bytes()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(load(c.bytes));
  }
  PackageFile record;
  EXPECT_FALSE(loadPackageFile(record, scratch_ / "missing.vpa"));
  EXPECT_EQ(record.path, scratch_ / "missing.vpa");
}

TEST_F(PackageFileTest, BundleMembersAreReadWithTheirOwnHeaders) {
  PackageWriter writer;
  writer.part(kBundleHeaderPart, headerPayload("routing-bundle", 3, 4))
      .part(kArchitecturePart, "powerpc")
      .part(kImagePart, "bundle image")
      .part(kBundleMembersPart, listPayload({{"first", 0, 0, 0}, {"second", 0, 0, 0}}));
  addMember(writer, "first", true);
  writer.part(kImagePart, "member image");  // an image part between members is passed over
  addMember(writer, "second", false);
  PackageFile record;
  ASSERT_TRUE(load(writer.bytes(), record));
  EXPECT_TRUE(record.isBundle);
  EXPECT_TRUE(record.hasImage);
  ASSERT_EQ(record.members.size(), 2u);
  EXPECT_EQ(record.members[0]->name, "first");
  EXPECT_EQ(record.members[0]->flags, PackageFlag::BootImage);
  EXPECT_FALSE(record.members[0]->isBundle);
  EXPECT_EQ(record.members[0]->architecture, "i386");
  EXPECT_EQ(record.members[0]->depends.size(), 1u);
  EXPECT_EQ(record.members[1]->name, "second");
  EXPECT_EQ(record.members[1]->flags, 0u);
}

TEST_F(PackageFileTest, BundleEndingsDecideWhetherItIsBroken) {
  auto bundleWith = [](int members) {
    PackageWriter writer;
    writer.part(kBundleHeaderPart, headerPayload("bundle", 3, 4));
    for (int i = 0; i < members; ++i) addMember(writer, "member" + std::to_string(i), false);
    return writer;
  };
  struct Case {
    const char* what;
    std::string bytes;
    bool ok;
    size_t members;
  };
  std::string memberCut = bundleWith(1).bytes();
  memberCut = memberCut.substr(0, memberCut.size() - 68 - 6 - 20);  // inside the member's container
  std::string headerCut = bundleWith(1).part(kPackageHeaderPart, 32, "second").bytes();
  const Case cases[] = {
      {"no members", bundleWith(0).bytes(), false, 0},
      {"one member", bundleWith(1).bytes(), true, 1},
      {"one member, then a cut-off part header", bundleWith(1).raw(std::string("\x01\x00", 2)).bytes(), true, 1},
      // Installing it finds the container broken; reading the headers does not.
      {"member's container cut off", PackageWriter().raw(memberCut.substr(8)).bytes(), true, 1},
      {"second member's header cut off", headerCut, false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PackageFile record;
    EXPECT_EQ(load(c.bytes, record), c.ok);
    EXPECT_EQ(record.members.size(), c.members);
  }
}

TEST(PackageFileStream, AStreamClaimingGigabytesAllocatesNoGigabytes) {
  // As standard input might: the header claims nearly 4 GB, a text part
  // 3 GB, and 4 bytes arrive.
  std::string bytes = PackageWriter()
                          .part(kPackageHeaderPart, headerPayload("a"))
                          .part(kRecord24TextPart, 0xC0000000u, "four")
                          .lengthField(0xFFFFFF00u)
                          .bytes();
  std::stringbuf source(bytes, std::ios::in);
  PackageStream stream(&source, true);
  PackageInfo record;
  AllocationWatch watch;
  EXPECT_FALSE(readPackageFileParts(record, stream));
  watch.stop();
  EXPECT_LT(watch.largest(), 64u * 1024);
}

TEST_F(PackageFileTest, ALargeBundleIsReadWithFixedBuffersOnly) {
  // Each member carries 16 MB that are skipped but hashed on the way.
  const size_t kContainerSize = 16u << 20;
  const size_t kChunk = 1u << 16;
  std::string path = scratch_ / "large.vpa";
  {
    std::string head = PackageWriter().part(kBundleHeaderPart, headerPayload("big")).bytes().substr(8);
    std::string member =
        PackageWriter().part(kPackageHeaderPart, headerPayload("m", 1, 2, PackageFlag::BootImage)).bytes().substr(8);
    std::string signature = PackageWriter().part(kSignaturePart, std::string(68, 's')).bytes().substr(8);
    size_t body = head.size() + 2 * (member.size() + 6 + kContainerSize + signature.size());
    std::ofstream out(path, std::ios::binary);
    out << PackageWriter().lengthField(static_cast<uint32_t>(body)).bytes() << head;
    std::string chunk(kChunk, 'z');
    for (int m = 0; m < 2; ++m) {
      out << member << partHeader(kFileContainerPart, static_cast<uint32_t>(kContainerSize));
      for (size_t written = 0; written < kContainerSize; written += kChunk) out << chunk;
      out << signature;
    }
    ASSERT_TRUE(out.good());
  }
  PackageFile record;
  AllocationWatch watch;
  bool ok = loadPackageFile(record, path);
  watch.stop();
  ASSERT_TRUE(ok);
  ASSERT_EQ(record.members.size(), 2u);
  EXPECT_EQ(record.members[1]->flags, PackageFlag::BootImage);
  EXPECT_LT(watch.largest(), 64u * 1024);
  EXPECT_LT(watch.total(), 256u * 1024);
}

}  // namespace
