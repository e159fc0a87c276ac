#include "database/installed_packages.h"

#include <gtest/gtest.h>

#include <dirent.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "database/package_database.h"
#include "model/console.h"
#include "support/package_writer.h"
#include "support/scratch_dir.h"

namespace {

const Version k641 = makeVersion(6, 41, 'f', 0);
const Version k642 = makeVersion(6, 42, 'f', 0);

// A plain package file as it is stored: header, metadata, image, contents
// and signature parts.
std::string plainImage(const std::string& name, Version version, const std::string& description = "") {
  PackageWriter writer;
  writer.part(1, headerPayload(name, version, 1700000000))
      .part(16, "powerpc")
      .part(23, description)
      .part(3, listPayload({{"system", k641, 0, 0}}))
      .part(21, "image bytes")
      .part(4, zlibCompress(fileRecord(0100644, 0, "bin/" + name, "x")))
      .part(9, std::string(64, 's'));
  return writer.bytes();
}

// The header part of a bundle member, with its lists and file parts.
void appendMember(PackageWriter& writer, const std::string& name, Version version) {
  writer.part(1, headerPayload(name, version, 1600000000))
      .part(19, listPayload({{name + "-x", 0, 0, 2}}))
      .part(4, zlibCompress(""))
      .part(9, std::string(64, 's'));
}

class InstalledPackages : public ::testing::Test {
 protected:
  void SetUp() override { repository_.console = &console_; }

  void file(const std::string& path, const std::string& content) {
    ASSERT_TRUE(writeFile(scratch_.path() + path, content));
  }
  void entryFile(const std::string& name, const std::string& file, const std::string& content) {
    ASSERT_TRUE(writeFile(BoardPaths(scratch_.path()).entryDirectory(name) + file, content));
  }
  void load(bool quiet = false) {
    repository_.quiet = quiet;
    repository_.architecture = "powerpc";
    if (!loadInstalled(repository_, BoardPaths(scratch_.path()))) reportWarning(repository_, "could not open repo");
  }

  std::vector<std::string> names() const {
    std::vector<std::string> result;
    for (const auto& package : repository_.packages) result.push_back(package->name);
    return result;
  }
  // The package database's own order, which the loader follows.
  std::vector<std::string> directoryOrder() const {
    std::vector<std::string> result;
    DIR* dir = opendir((scratch_.path() + "/flash/var/pdb").c_str());
    while (struct dirent* entry = dir ? readdir(dir) : nullptr)
      if (entry->d_name[0] != '.') result.push_back(entry->d_name);
    if (dir) closedir(dir);
    return result;
  }

  ScratchDir scratch_;
  Repository repository_;
  std::ostringstream console_;
};

TEST_F(InstalledPackages, MissingDatabaseWarnsAndLoadsNothing) {
  file("/flash/var/pckg/.keep", "");
  file("/rw/pckg/.images/ppp", plainImage("ppp", k641));
  load();
  EXPECT_TRUE(repository_.packages.empty());
  EXPECT_EQ(repository_.architecture, "powerpc");
  EXPECT_EQ(repository_.messages, std::vector<std::string>({"WARNING: could not open repo"}));
  EXPECT_EQ(console_.str(), "WARNING: could not open repo\n");
}

TEST_F(InstalledPackages, QuietLoadOfAMissingDatabaseSaysNothing) {
  load(true);
  EXPECT_TRUE(repository_.quiet);
  EXPECT_TRUE(repository_.messages.empty());
  EXPECT_EQ(console_.str(), "");
}

TEST_F(InstalledPackages, EmptyDatabaseLoadsNothingSilently) {
  file("/flash/var/pdb/.keep", "");
  load();
  EXPECT_TRUE(repository_.packages.empty());
  EXPECT_TRUE(repository_.messages.empty());
}

TEST_F(InstalledPackages, StoredImageDescribesThePackageAndTheEntryItsState) {
  file("/flash/var/pdb/ppp/image", plainImage("ppp", k642, "point to point"));
  entryFile("ppp", "version", "1 1\n");  // older metadata, not read
  entryFile("ppp", "deps", "other 0 0\n");
  entryFile("ppp", "files", "bin/ppp\n");
  entryFile("ppp", "disabled", "auto\n");
  ASSERT_TRUE(writeFile(BoardPaths(scratch_.path()).scheduleFile("ppp"), "enable\n"));
  load();
  ASSERT_EQ(names(), std::vector<std::string>({"ppp"}));
  const Package& ppp = *repository_.packages[0];
  EXPECT_EQ(ppp.version, k642);
  EXPECT_EQ(ppp.buildTime, 1700000000u);
  EXPECT_EQ(ppp.description, "point to point");
  EXPECT_EQ(ppp.architecture, "i386");  // the architecture part is not read from stored images
  ASSERT_EQ(ppp.depends.size(), 1u);
  EXPECT_EQ(ppp.depends[0].name, "system");
  EXPECT_FALSE(ppp.hasImage);
  EXPECT_EQ(ppp.files, std::set<std::string>({"/bin/ppp"}));
  EXPECT_TRUE(ppp.disabled);
  EXPECT_TRUE(ppp.userForced);  // the schedule word
  EXPECT_EQ(ppp.action, PackageAction::Enable);
}

TEST_F(InstalledPackages, BundleImageYieldsItsMembersFirst) {
  PackageWriter writer;
  writer.part(18, headerPayload("routing", k641, 1500000000)).part(23, "routing bundle").part(20, listPayload({}));
  appendMember(writer, "ospf", k641);
  appendMember(writer, "bgp", k642);
  file("/flash/var/pdb/routing/image", writer.bytes());
  entryFile("bgp", "disabled", "user\n");
  load();
  ASSERT_EQ(names(), std::vector<std::string>({"ospf", "bgp", "routing"}));
  const Package& bgp = *repository_.packages[1];
  const Package& routing = *repository_.packages[2];
  EXPECT_EQ(bgp.version, k642);
  EXPECT_EQ(bgp.bundle.name, "routing");
  EXPECT_EQ(bgp.bundle.min, k641);
  EXPECT_EQ(bgp.bundle.max, k641);
  ASSERT_EQ(bgp.provides.size(), 1u);
  EXPECT_EQ(bgp.provides[0].priority, 2);
  EXPECT_TRUE(bgp.disabled);
  EXPECT_FALSE(bgp.isBundle);
  EXPECT_TRUE(routing.isBundle);
  EXPECT_TRUE(routing.bundle.name.empty());
  EXPECT_EQ(routing.description, "routing bundle");
  EXPECT_TRUE(routing.members.empty());
  EXPECT_EQ(repository_.packages[0]->action, PackageAction::None);
}

// However a bundle image ends, loading ends too, with every member read
// before the break.
TEST_F(InstalledPackages, BundleImageCutShortEndsTheMemberLoop) {
  PackageWriter writer;
  writer.part(18, headerPayload("routing", k641, 0));
  appendMember(writer, "ospf", k641);
  appendMember(writer, "bgp", k641);
  const std::string whole = writer.bytes();
  const size_t ospf = whole.find("ospf");  // the first member's header payload
  const size_t bgp = whole.find("bgp");    // the second member's header payload
  const size_t bgpPart = bgp - 6;          // the second member's part header
  PackageWriter overlong;
  overlong.part(18, headerPayload("routing", k641, 0));
  appendMember(overlong, "ospf", k641);
  overlong.part(1, 0x7FFFFFFF, "bgp");
  struct Case {
    const char* what;
    std::string bytes;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {"whole", whole, {"ospf", "bgp", "routing"}},
      {"inside the second member's part header", whole.substr(0, bgpPart + 3), {"ospf", "routing"}},
      {"inside the second member's header payload", whole.substr(0, bgp + 20), {"ospf", "routing"}},
      {"right after the second member's header", whole.substr(0, bgp + 32), {"ospf", "bgp", "routing"}},
      {"inside the second member's lists", whole.substr(0, bgp + 32 + 10), {"ospf", "bgp", "routing"}},
      {"inside the first member's header payload", whole.substr(0, ospf + 10), {"routing"}},
      {"a member header claiming more than the file", overlong.bytes(), {"ospf", "routing"}},
  };
  for (const Case& c : cases) {
    ScratchDir root;
    ASSERT_TRUE(writeFile(BoardPaths(root.path()).entryDirectory("routing") + "image", c.bytes));
    Repository repository;
    loadInstalled(repository, BoardPaths(root.path()));
    std::vector<std::string> loaded;
    for (const auto& package : repository.packages) loaded.push_back(package->name);
    EXPECT_EQ(loaded, c.names) << c.what;
    for (const auto& package : repository.packages) {
      const std::string expected = package->name == "routing" ? "" : "routing";
      EXPECT_EQ(package->bundle.name, expected) << c.what;
    }
  }
}

TEST_F(InstalledPackages, EntryWithoutAReadableImageIsReadFromItsMetadata) {
  struct Case {
    const char* what;
    const char* image;  // nullptr: none
  };
  const Case cases[] = {
      {"no image", nullptr},
      {"empty image", ""},
      {"wrong magic", "\x01\x02\x03\x04\x05\x06\x07\x08"},
      {"image that is a directory", "<dir>"},
  };
  for (const Case& c : cases) {
    ScratchDir root;
    const std::string dir = BoardPaths(root.path()).entryDirectory("ppp");
    ASSERT_TRUE(writeFile(dir + "version", std::to_string(k641) + " 1700000000\n"));
    ASSERT_TRUE(writeFile(dir + "deps", "system 0 0\n"));
    ASSERT_TRUE(writeFile(dir + "files", "bin/ppp\n"));
    if (c.image && std::string(c.image) == "<dir>") {
      ASSERT_TRUE(writeFile(dir + "image/x", ""));
    } else if (c.image) {
      ASSERT_TRUE(writeFile(dir + "image", c.image));
    }
    Repository repository;
    loadInstalled(repository, BoardPaths(root.path()));
    ASSERT_EQ(repository.packages.size(), 1u) << c.what;
    const Package& ppp = *repository.packages[0];
    EXPECT_EQ(ppp.name, "ppp") << c.what;
    EXPECT_EQ(ppp.version, k641) << c.what;
    EXPECT_EQ(ppp.depends.size(), 1u) << c.what;
    EXPECT_EQ(ppp.files, std::set<std::string>({"/bin/ppp"})) << c.what;
    EXPECT_EQ(ppp.action, PackageAction::None) << c.what;
  }
}

TEST_F(InstalledPackages, ImagesComeFirstThenTheSecondPlaceThenPlainEntries) {
  file("/flash/var/pdb/aaa/image", plainImage("aaa", k641));
  file("/flash/var/pdb/bbb/image", plainImage("bbb", k641));
  entryFile("ccc", "version", "1 1\n");
  entryFile("ddd", "files", "");
  // The second place is looked up by the database's names only.
  file("/rw/pckg/.images/bbb", plainImage("bbb", k642));
  file("/rw/pckg/.images/ccc", plainImage("ccc", k642));
  file("/rw/pckg/.images/zzz", plainImage("zzz", k642));
  load();

  std::vector<std::string> expected;
  const std::vector<std::string> order = directoryOrder();
  for (const std::string& name : order)
    if (name == "aaa" || name == "bbb") expected.push_back(name);
  for (const std::string& name : order)
    if (name == "bbb" || name == "ccc") expected.push_back(name);
  for (const std::string& name : order)
    if (name == "ddd") expected.push_back(name);
  EXPECT_EQ(names(), expected);

  // The same package read twice, once from each place.
  std::vector<Version> bbbVersions;
  for (const auto& package : repository_.packages)
    if (package->name == "bbb") bbbVersions.push_back(package->version);
  EXPECT_EQ(bbbVersions, std::vector<Version>({k641, k642}));
  const Package& ddd = *repository_.packages.back();
  EXPECT_EQ(ddd.action, PackageAction::Uninstall);  // no version file
}

TEST_F(InstalledPackages, OnlyVisibleDirectoriesAreEntries) {
  entryFile(".hidden", "version", "1 1\n");
  entryFile("ppp", "version", "1 1\n");
  entryFile("ppp", "files", "");
  file("/flash/var/pdb/image", plainImage("stray", k641));  // left by a failed image install
  load();
  EXPECT_EQ(names(), std::vector<std::string>({"ppp"}));
}

TEST_F(InstalledPackages, ReadStoredImagesNeedsTheDatabaseWhateverThePrefix) {
  file("/rw/pckg/.images/ppp", plainImage("ppp", k641));
  EXPECT_FALSE(readStoredImages(repository_, BoardPaths(scratch_.path()), true));
  EXPECT_TRUE(repository_.packages.empty());

  entryFile("ppp", "files", "");
  EXPECT_TRUE(readStoredImages(repository_, BoardPaths(scratch_.path()), true));
  ASSERT_EQ(names(), std::vector<std::string>({"ppp"}));
  EXPECT_EQ(repository_.packages[0]->version, k641);
}

}  // namespace
