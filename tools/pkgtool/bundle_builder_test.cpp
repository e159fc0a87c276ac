#include "pkgtool/bundle_builder.h"

#include <dirent.h>

#include <algorithm>
#include <fstream>

#include <gtest/gtest.h>

#include "pkgfile/package_file.h"
#include "pkgfile/package_header.h"
#include "pkgfile/package_signature.h"
#include "pkgfile/package_stream.h"
#include "pkgtool/package_builder.h"
#include "pkgtool/part_walk.h"
#include "pkgtool/test_packages.h"
#include "signing/key_generator.h"
#include "support/scratch_dir.h"

namespace {

class BundleBuilderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(writeFile(dir_ / "tree/bin/tool", std::string(70000, 't')));
    BuildRequest first = basicRequest("first");
    first.root = dir_ / "tree";
    first.header.flags = PackageFlag::BootImage;
    first.header.depends = {{"system", makeVersion(6, 40, 'f', 0), 0, 0}};
    BuildRequest second = basicRequest("second-member-16");
    second.header.image = true;
    second.header.architecture = "";
    std::string error;
    ASSERT_TRUE(buildPackage(first, keySigner(testKey()), dir_ / "first.vpa", &error)) << error;
    ASSERT_TRUE(buildPackage(second, keySigner(testKey()), dir_ / "second.vpa", &error)) << error;
  }

  BundleRequest request() const {
    BundleRequest bundle;
    bundle.header = basicRequest("suite").header;
    bundle.header.image = true;
    bundle.header.description = "the suite";
    bundle.members = {dir_ / "first.vpa", dir_ / "second.vpa"};
    return bundle;
  }

  std::vector<std::string> outEntries() const {
    std::vector<std::string> names;
    DIR* dir = opendir((dir_ / "out").c_str());
    while (dirent* entry = dir ? readdir(dir) : nullptr)
      if (entry->d_name[0] != '.') names.push_back(entry->d_name);
    if (dir) closedir(dir);
    return names;
  }

  ScratchDir dir_;
};

TEST_F(BundleBuilderTest, ReadsBackAsABundleWithItsMembersAndStartDisabledList) {
  BundleRequest bundle = request();
  bundle.startDisabled = {"second-member-16"};
  std::string error;
  ASSERT_TRUE(buildBundle(bundle, testKey().publicKey, dir_ / "b.vpa", &error)) << error;

  PackageFile record;
  ASSERT_TRUE(loadPackageFile(record, dir_ / "b.vpa"));
  EXPECT_TRUE(record.isBundle);
  EXPECT_EQ(record.name, "suite");
  EXPECT_TRUE(record.hasImage);
  EXPECT_EQ(record.description, "the suite");
  ASSERT_EQ(record.members.size(), 2u);
  EXPECT_EQ(record.members[0]->name, "first");
  EXPECT_EQ(record.members[0]->flags, PackageFlag::BootImage);
  ASSERT_EQ(record.members[0]->depends.size(), 1u);
  EXPECT_EQ(record.members[1]->name, "second-member-16");
  EXPECT_EQ(record.members[1]->architecture, "");
  EXPECT_TRUE(record.members[1]->hasImage);
  EXPECT_FALSE(record.members[1]->isBundle);

  // The member list as the bundle installer reads it, and each member's
  // signature as installation checks it, on the way through the file.
  std::ifstream file(dir_ / "b.vpa", std::ios::binary);
  PackageStream stream(file, true);
  for (uint32_t type : {1, 18, 20, 16, 3, 19, 17, 21, 4, 9}) stream.acceptPart(type);
  ASSERT_EQ(stream.nextPart(), kBundleHeaderPart);
  int verified = 0;
  std::vector<Dependency> startDisabled;
  while (stream.nextPart() != kNoPart) {
    if (stream.partType() == kBundleMembersPart) {
      ASSERT_TRUE(readDependencyList(stream, startDisabled));
    }
    if (stream.partType() == kSignaturePart) {
      EXPECT_TRUE(verifySignature(stream, testKey().publicKey));
      ++verified;
    }
  }
  EXPECT_EQ(verified, 2);
  ASSERT_EQ(startDisabled.size(), 1u);
  EXPECT_EQ(startDisabled[0].name, "second-member-16");
  EXPECT_EQ(startDisabled[0].min, 0u);
  EXPECT_EQ(startDisabled[0].max, 0u);

  // Members are copied byte for byte after their file header.
  std::string bundleBytes = readFile(dir_ / "b.vpa");
  for (const char* member : {"first.vpa", "second.vpa"}) {
    std::string parts = readFile(dir_ / member).substr(8);
    EXPECT_NE(bundleBytes.find(parts), std::string::npos) << member;
  }
}

TEST_F(BundleBuilderTest, LeavesOutTheImageAndMemberListWhenNotAsked) {
  BundleRequest bundle = request();
  bundle.header.image = false;
  std::string error;
  ASSERT_TRUE(buildBundle(bundle, testKey().publicKey, dir_ / "b.vpa", &error)) << error;
  FileLayout layout;
  ASSERT_TRUE(walkParts(dir_ / "b.vpa", &layout, &error)) << error;
  std::vector<uint16_t> bundleParts;
  for (const PartEntry& part : layout.parts) {
    if (part.type == kPackageHeaderPart) break;
    bundleParts.push_back(part.type);
  }
  EXPECT_EQ(bundleParts, (std::vector<uint16_t>{kBundleHeaderPart, kDescriptionPart}));
  PackageFile record;
  ASSERT_TRUE(loadPackageFile(record, dir_ / "b.vpa"));
  EXPECT_FALSE(record.hasImage);
  EXPECT_EQ(record.members.size(), 2u);
}

TEST_F(BundleBuilderTest, RefusesMembersTheBoardWouldNotInstallAndLeavesNoOutput) {
  // A member signed with another key, one with a changed signed byte, a cut
  // one, and a bundle as a member.
  PrivateKey otherKey;
  ASSERT_TRUE(generateKey(&otherKey));
  std::string error;
  ASSERT_TRUE(buildPackage(basicRequest("other"), keySigner(otherKey), dir_ / "other.vpa", &error)) << error;
  std::string bytes = readFile(dir_ / "first.vpa");
  bytes[8 + 6 + 20] ^= 1;  // the build time in the header part
  ASSERT_TRUE(writeFile(dir_ / "flipped.vpa", bytes));
  std::string cut = readFile(dir_ / "second.vpa");
  ASSERT_TRUE(writeFile(dir_ / "cut.vpa", cut.substr(0, cut.size() - 1)));
  ASSERT_TRUE(buildBundle(request(), testKey().publicKey, dir_ / "inner.vpa", &error)) << error;
  ASSERT_TRUE(writeFile(dir_ / "out/b.vpa", "old"));

  struct Case {
    std::vector<std::string> members;
    std::vector<std::string> startDisabled;
    const char* name;
    const char* inError;
  } cases[] = {
      {{"other.vpa"}, {}, "suite", "other.vpa: signature does not hold"},
      {{"flipped.vpa"}, {}, "suite", "flipped.vpa: signature does not hold"},
      {{"first.vpa", "cut.vpa"}, {}, "suite", "cut.vpa: broken package file"},
      {{"inner.vpa"}, {}, "suite", "inner.vpa: a bundle member must be a single package"},
      {{"missing.vpa"}, {}, "suite", "missing.vpa: cannot open"},
      {{"first.vpa", "first.vpa"}, {}, "suite", "a second member named first"},
      {{"first.vpa"}, {"second-member-16"}, "suite", "--start-disabled second-member-16: no member"},
      {{}, {}, "suite", "at least one member"},
      {{"first.vpa"}, {}, "a b", "\"a b\""},
  };
  for (const Case& c : cases) {
    BundleRequest bundle = request();
    bundle.header.name = c.name;
    bundle.members.clear();
    for (const std::string& member : c.members) bundle.members.push_back(dir_ / member);
    bundle.startDisabled = c.startDisabled;
    EXPECT_FALSE(buildBundle(bundle, testKey().publicKey, dir_ / "out/b.vpa", &error)) << c.inError;
    EXPECT_NE(error.find(c.inError), std::string::npos) << error;
    EXPECT_EQ(outEntries(), std::vector<std::string>{"b.vpa"});
    EXPECT_EQ(readFile(dir_ / "out/b.vpa"), "old");
  }
}

}  // namespace
