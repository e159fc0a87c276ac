#include "pkgfile/package_header.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "support/package_writer.h"

namespace {

const uint32_t kCandidateTypes[] = {18, 1, 24, 16, 2, 23, 3, 19, 17, 21};
const uint32_t kInstallTypes[] = {1, 18, 20, 16, 3, 19, 17, 21, 4, 9};

// Reads the header parts of a file with the candidate reader's accepted set.
struct HeaderRead {
  explicit HeaderRead(const std::string& bytes, bool installSet = false)
      : source(bytes, std::ios::in), stream(&source, true) {
    if (installSet) {
      for (uint32_t type : kInstallTypes) stream.acceptPart(type);
    } else {
      for (uint32_t type : kCandidateTypes) stream.acceptPart(type);
    }
    stream.nextPart();
    ok = readPackageHeader(record, stream);
  }
  std::stringbuf source;
  PackageStream stream;
  PackageInfo record;
  bool ok = false;
};

TEST(PackageHeader, ReadsEveryFieldInItsPlace) {
  std::string description("two\0lines", 9);
  std::string bytes = PackageWriter()
                          .part(kPackageHeaderPart, headerPayload("routing", 0x06290062, 1700000000, 2))
                          .part(kRecord24TextPart, "t24")
                          .part(kArchitecturePart, "powerpc")
                          .part(kRecord2TextPart, "t2")
                          .part(kDescriptionPart, description)
                          .part(kDependsPart, listPayload({{"system", 0x06280066, 0x06300000, 0}}))
                          .part(kProvidesPart, listPayload({{"routing-lite", 0, 0, -1}, {"ospf", 1, 2, 7}}))
                          .part(kConflictsPart, listPayload({{"old-routing", 0, 0x06000000, 0}}))
                          .part(kImagePart, "image")
                          .part(kFileContainerPart, "")
                          .bytes();
  HeaderRead read(bytes);
  ASSERT_TRUE(read.ok);
  const PackageInfo& r = read.record;
  EXPECT_EQ(r.name, "routing");
  EXPECT_EQ(r.version, 0x06290062u);
  EXPECT_EQ(r.buildTime, 1700000000u);
  EXPECT_EQ(r.flags, PackageFlag::NoMetadata);
  EXPECT_FALSE(r.isBundle);
  EXPECT_EQ(r.record24Text, "t24");
  EXPECT_EQ(r.architecture, "powerpc");
  EXPECT_EQ(r.record2Text, "t2");
  EXPECT_EQ(r.description, description);  // embedded NUL kept
  ASSERT_EQ(r.depends.size(), 1u);
  EXPECT_EQ(r.depends[0].name, "system");
  EXPECT_EQ(r.depends[0].min, 0x06280066u);
  EXPECT_EQ(r.depends[0].max, 0x06300000u);
  ASSERT_EQ(r.provides.size(), 2u);
  EXPECT_EQ(r.provides[0].priority, -1);
  EXPECT_EQ(r.provides[1].name, "ospf");
  EXPECT_EQ(r.provides[1].priority, 7);
  ASSERT_EQ(r.conflicts.size(), 1u);
  EXPECT_EQ(r.conflicts[0].max, 0x06000000u);
  EXPECT_TRUE(r.hasImage);
  EXPECT_EQ(read.stream.partType(), kImagePart);  // left current for the caller
}

// A payload of 36 bytes or more carries the flags; below 32 it is no header.
TEST(PackageHeader, FlagsNeedAllFourBytes) {
  struct Case {
    size_t payloadSize;
    bool ok;
    uint32_t flags;
  };
  for (Case c : {Case{31, false, 0}, Case{32, true, 0}, Case{33, true, 0}, Case{35, true, 0}, Case{36, true, 1},
                 Case{40, true, 1}}) {
    SCOPED_TRACE(c.payloadSize);
    std::string payload = headerPayload("a", 1, 2, 1) + "tail";
    payload.resize(c.payloadSize);
    HeaderRead read(PackageWriter().part(kPackageHeaderPart, payload).part(kDependsPart, listPayload({})).bytes());
    ASSERT_EQ(read.ok, c.ok);
    EXPECT_EQ(read.record.flags, c.flags);
    EXPECT_EQ(read.stream.partType(), kNoPart);  // the list was read, or the stream ended
  }
}

// A name ends at its first NUL or after 16 bytes. Names that could leave the
// database directory fail the header and leave the stream at its end, so a
// loop over a bundle's members stops there.
TEST(PackageHeader, NamesAreCutAtNulAndUnsafeOnesAreRefused) {
  struct Case {
    std::string field;
    const char* name;  // nullptr: refused
  };
  const Case cases[] = {
      {"abc", "abc"}, {"sixteen-letters!", "sixteen-letters!"}, {std::string("ab\0cd", 5), "ab"},
      {"...", "..."}, {"a.b", "a.b"}, {"x-1_2+3", "x-1_2+3"}, {"\xc3\xa9t\xc3\xa9", "\xc3\xa9t\xc3\xa9"}, {"~!", "~!"},
      {"", nullptr}, {".", nullptr}, {"..", nullptr}, {"a/b", nullptr}, {"/", nullptr}, {"a b", nullptr},
      {"a\x01", nullptr}, {"tab\t", nullptr}, {"del\x7f", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field);
    std::string bytes = PackageWriter()
                            .part(kBundleHeaderPart, headerPayload("bundle"))
                            .part(kPackageHeaderPart, headerPayload(c.field))
                            .bytes();
    HeaderRead bundle(bytes);
    ASSERT_TRUE(bundle.ok);
    ASSERT_EQ(bundle.stream.partType(), kPackageHeaderPart);
    PackageInfo member;
    EXPECT_EQ(readPackageHeader(member, bundle.stream), c.name != nullptr);
    if (c.name) {
      EXPECT_EQ(member.name, c.name);
    }
    EXPECT_EQ(bundle.stream.partType(), kNoPart);
    EXPECT_EQ(bundle.stream.isBroken(), c.name == nullptr);
  }
}

TEST(PackageHeader, ArchitectureIsI386OnlyWhenThePartIsMissing) {
  HeaderRead absent(PackageWriter().part(kPackageHeaderPart, headerPayload("a")).bytes());
  ASSERT_TRUE(absent.ok);
  EXPECT_EQ(absent.record.architecture, "i386");
  HeaderRead empty(PackageWriter().part(kPackageHeaderPart, headerPayload("a")).part(kArchitecturePart, "").bytes());
  ASSERT_TRUE(empty.ok);
  EXPECT_EQ(empty.record.architecture, "");
}

TEST(PackageHeader, PartsOutOfOrderAreLeftUnread) {
  // An unknown part is skipped; an architecture after the depends list is
  // not read and stays current.
  std::string bytes = PackageWriter()
                          .part(kPackageHeaderPart, headerPayload("a"))
                          .part(7, "unknown")
                          .part(kDependsPart, listPayload({{"system", 0, 0, 0}}))
                          .part(kArchitecturePart, "powerpc")
                          .part(kProvidesPart, listPayload({{"p", 0, 0, 0}}))
                          .bytes();
  HeaderRead read(bytes);
  ASSERT_TRUE(read.ok);
  EXPECT_EQ(read.record.architecture, "i386");
  ASSERT_EQ(read.record.depends.size(), 1u);
  EXPECT_TRUE(read.record.provides.empty());
  EXPECT_EQ(read.stream.partType(), kArchitecturePart);
}

TEST(PackageHeader, TextsNotAcceptedWhileInstallingStayEmpty) {
  std::string bytes = PackageWriter()
                          .part(kPackageHeaderPart, headerPayload("a"))
                          .part(kRecord24TextPart, "t24")
                          .part(kArchitecturePart, "ppc")
                          .part(kDescriptionPart, "note")
                          .part(kFileContainerPart, "")
                          .bytes();
  HeaderRead read(bytes, true);
  ASSERT_TRUE(read.ok);
  EXPECT_EQ(read.record.record24Text, "");
  EXPECT_EQ(read.record.description, "");
  EXPECT_EQ(read.record.architecture, "ppc");
  EXPECT_EQ(read.stream.partType(), kFileContainerPart);
}

TEST(PackageHeader, ListCountsAreCheckedAgainstTheEntries) {
  std::vector<Dependency> two = {{"one", 1, 0, 0}, {"two", 2, 0, 0}};
  struct Case {
    const char* what;
    std::string payload;
    bool ok;
    size_t entries;
  };
  const Case cases[] = {
      {"count 0", listPayload({}), true, 0},
      {"count 2 of 2", listPayload(two), true, 2},
      {"count 3 of 2", listPayload(two, 3), false, 2},
      {"half an entry", listPayload(two).substr(0, 2 + 32 + 16), false, 1},
      {"no count", "", false, 0},
      {"one byte of count", "\x01", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string bytes = PackageWriter().part(kDependsPart, c.payload).part(kSignaturePart, "s").bytes();
    std::stringbuf source(bytes, std::ios::in);
    PackageStream stream(&source, true);
    stream.acceptPart(kDependsPart);
    ASSERT_EQ(stream.nextPart(), kDependsPart);
    std::vector<Dependency> list;
    EXPECT_EQ(readDependencyList(stream, list), c.ok);
    EXPECT_EQ(list.size(), c.entries);
  }
}

TEST(PackageHeader, FailedListFailsTheHeader) {
  std::string bytes = PackageWriter()
                          .part(kPackageHeaderPart, headerPayload("a"))
                          .part(kProvidesPart, listPayload({{"p", 0, 0, 0}}, 2))
                          .bytes();
  HeaderRead read(bytes);
  EXPECT_FALSE(read.ok);
  EXPECT_EQ(read.stream.partType(), kNoPart);
}

TEST(PackageHeader, TextRunningPastTheEndOfTheStreamIsRefused) {
  // A stream whose header claims far more than arrives, as standard input
  // might: the text part's 3 GB length must not be believed.
  PackageWriter writer;
  writer.part(kPackageHeaderPart, headerPayload("a")).part(kDescriptionPart, 0xC0000000u, "abc");
  for (bool dataEndsEarly : {false, true}) {  // else the length runs past the file size
    SCOPED_TRACE(dataEndsEarly);
    if (dataEndsEarly) writer.lengthField(0xF0000000u);
    HeaderRead read(writer.bytes());
    EXPECT_FALSE(read.ok);
    EXPECT_TRUE(read.stream.isBroken());
    EXPECT_EQ(read.stream.partType(), kNoPart);
  }
}

}  // namespace
