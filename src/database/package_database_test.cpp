#include "database/package_database.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "model/console.h"
#include "model/repository.h"
#include "staging/transaction.h"
#include "support/scratch_dir.h"
#include "support/tmpfs_mount.h"

namespace {

// Files of the entry "ppp"; "schedule" stands for its schedule file.
using EntryFiles = std::map<std::string, std::string>;

// Reads the entry made of `files` below a fresh root into `package`, whose
// name is "ppp" and whose version says whether a stored image was read.
void readFrom(const EntryFiles& files, Package& package) {
  ScratchDir root;
  for (const auto& [file, content] : files) {
    const bool schedule = file.compare(0, 8, "schedule") == 0;
    const BoardPaths board(root.path());
    const std::string path = schedule ? board.scheduleFile("ppp") + file.substr(8) : board.entryDirectory("ppp") + file;
    ASSERT_TRUE(writeFile(path, content)) << path;
  }
  readEntry(package, BoardPaths(root.path()));
}

TEST(PackageDatabaseRead, EntryWithOnlyFilesIsUninstalled) {
  Package package("ppp");
  readFrom({{"files", "bin/ppp\n"}}, package);
  EXPECT_EQ(package.version, 0u);
  EXPECT_EQ(package.files, std::set<std::string>({"/bin/ppp"}));
  EXPECT_FALSE(package.isBundle);
  EXPECT_EQ(package.action, PackageAction::Uninstall);
}

// Missing provides and conflicts files are empty lists, not failures.
TEST(PackageDatabaseRead, EntryWithoutFilesIsABundle) {
  Package package("ppp");
  readFrom({{"version", "100000000 1700000000\n"}, {"deps", ""}}, package);
  EXPECT_EQ(package.version, 100000000u);
  EXPECT_EQ(package.buildTime, 1700000000u);
  EXPECT_TRUE(package.isBundle);
  EXPECT_TRUE(package.depends.empty());
  EXPECT_EQ(package.action, PackageAction::None);
}

TEST(PackageDatabaseRead, FullEntryFillsEveryList) {
  Package package("ppp");
  readFrom({{"version", "1718223616 1700000000\n"},
            {"deps", "system 1718222336 0\nsecurity 0 1718223616\n"},
            {"provides", "pppoe 0 0 -1\n"},
            {"conflicts", "oldppp 0 1700000000\n"},
            {"files", "bin/ppp\n"}},
           package);
  ASSERT_EQ(package.depends.size(), 2u);
  EXPECT_EQ(package.depends[0].name, "system");
  EXPECT_EQ(package.depends[0].min, 1718222336u);
  EXPECT_EQ(package.depends[1].name, "security");
  EXPECT_EQ(package.depends[1].max, 1718223616u);
  ASSERT_EQ(package.provides.size(), 1u);
  EXPECT_EQ(package.provides[0].name, "pppoe");
  EXPECT_EQ(package.provides[0].priority, -1);
  ASSERT_EQ(package.conflicts.size(), 1u);
  EXPECT_EQ(package.conflicts[0].max, 1700000000u);
  EXPECT_EQ(package.conflicts[0].priority, 0);
  EXPECT_EQ(package.action, PackageAction::None);
}

// Each broken file marks the entry for removal; what was read before the
// break stays.
TEST(PackageDatabaseRead, MalformedMetadataMarksTheEntryForRemoval) {
  struct Case {
    const char* what;
    const char* file;
    const char* content;
    PackageAction action;
    size_t entries;  // in the list the file feeds
  };
  const Case cases[] = {
      {"version with one number", "version", "100000000\n", PackageAction::Uninstall, 0},
      {"version that is no number", "version", "six 0\n", PackageAction::Uninstall, 0},
      {"version too large", "version", "4294967296 0\n", PackageAction::Uninstall, 0},
      {"deps line short of its max", "deps", "system 0 0\nsecurity 5\n", PackageAction::Uninstall, 1},
      {"deps line without a priority is complete", "deps", "system 0 0\n", PackageAction::None, 1},
      {"provides line without its priority", "provides", "pppoe 0 0\n", PackageAction::Uninstall, 0},
      {"provides lines all complete", "provides", "pppoe 0 0 3\nppp2 1 2 -4\n", PackageAction::None, 2},
      {"conflicts with a word for a number", "conflicts", "a 0 0\nb zero 0\n", PackageAction::Uninstall, 1},
      {"deps spread over lines", "deps", "system\n0\n0\n", PackageAction::None, 1},
  };
  for (const Case& c : cases) {
    EntryFiles files = {{"version", "100000000 0\n"}, {"files", "bin/ppp\n"}};
    files[c.file] = c.content;
    Package package("ppp");
    readFrom(files, package);
    EXPECT_EQ(package.action, c.action) << c.what;
    const std::string file = c.file;
    const size_t entries = file == "deps"        ? package.depends.size()
                           : file == "provides"  ? package.provides.size()
                           : file == "conflicts" ? package.conflicts.size()
                                                 : 0;
    EXPECT_EQ(entries, c.entries) << c.what;
  }
}

TEST(PackageDatabaseRead, FilesAreNormalisedToLeadingSlash) {
  Package package("ppp");
  readFrom({{"version", "100000000 0\n"}, {"files", "bin/a\n/bin/b\n\n"}}, package);
  EXPECT_EQ(package.files, std::set<std::string>({"/bin/a", "/bin/b"}));
}

TEST(PackageDatabaseRead, BundleFileMakesAMemberThatCannotStandAlone) {
  Package package("ppp");
  readFrom({{"version", "100000000 0\n"}, {"files", ""}, {"bundle", "routing\n"}}, package);
  EXPECT_EQ(package.bundle.name, "routing");
  EXPECT_EQ(package.bundle.min, 0u);
  EXPECT_EQ(package.bundle.max, 0u);
  EXPECT_EQ(package.action, PackageAction::Uninstall);
}

TEST(PackageDatabaseRead, StateFilesSetDisabledAndUserForced) {
  struct Case {
    const char* what;
    const char* disabled;  // nullptr: no file
    const char* enabled;
    bool expectDisabled;
    bool expectUserForced;
  };
  const Case cases[] = {
      {"neither file", nullptr, nullptr, false, false},
      {"enabled by the user", nullptr, "user\n", false, true},
      {"enabled file content is not read", nullptr, "auto\n", false, true},
      {"disabled by the user", "user\n", nullptr, true, true},
      {"disabled automatically", "auto\n", nullptr, true, false},
      {"empty disabled counts as user", "", nullptr, true, true},
      {"auto only on the first line", "user\nauto\n", nullptr, true, true},
      {"both files: disabled wins, auto", "auto\n", "user\n", true, false},
      {"both files: disabled wins, user", "user\n", "user\n", true, true},
  };
  for (const Case& c : cases) {
    EntryFiles files = {{"version", "100000000 0\n"}, {"files", ""}};
    if (c.disabled) files["disabled"] = c.disabled;
    if (c.enabled) files["enabled"] = c.enabled;
    Package package("ppp");
    package.disabled = !c.expectDisabled;  // stale values are replaced
    package.userForced = !c.expectUserForced;
    readFrom(files, package);
    EXPECT_EQ(package.disabled, c.expectDisabled) << c.what;
    EXPECT_EQ(package.userForced, c.expectUserForced) << c.what;
  }
}

TEST(PackageDatabaseRead, ScheduleWordsAreExactAndLowerCase) {
  struct Case {
    const char* word;
    PackageAction action;
    bool userForced;
  };
  const Case cases[] = {
      {"uninstall\n", PackageAction::Uninstall, false},
      {"enable\n", PackageAction::Enable, true},
      {"disable", PackageAction::Disable, true},
      {"Enable\n", PackageAction::None, false},
      {"DISABLE\n", PackageAction::None, false},
      {"remove\n", PackageAction::None, false},
      {"", PackageAction::None, false},
      {"  enable  \n", PackageAction::Enable, true},
  };
  for (const Case& c : cases) {
    Package package("ppp");
    readFrom({{"version", "100000000 0\n"}, {"files", ""}, {"schedule", c.word}}, package);
    EXPECT_EQ(package.action, c.action) << '"' << c.word << '"';
    EXPECT_EQ(package.userForced, c.userForced) << '"' << c.word << '"';
  }
}

TEST(PackageDatabaseRead, PlaceholderIgnoresItsSchedule) {
  Package package("ppp");
  readFrom({{"version", "4294967295 4294967295\n"}, {"files", ""}, {"schedule", "uninstall\n"}}, package);
  EXPECT_TRUE(isPlaceholder(package));
  EXPECT_EQ(package.action, PackageAction::None);
}

TEST(PackageDatabaseRead, PackageFromAStoredImageReadsOnlyStateScheduleAndFiles) {
  const Version fromImage = 100000000;
  Package package("ppp");
  package.version = fromImage;
  readFrom({{"version", "1 1\n"},
            {"deps", "system 0 0\n"},
            {"provides", "broken\n"},
            {"conflicts", "oldppp 0 0\n"},
            {"bundle", "routing\n"},
            {"files", "bin/ppp\n"},
            {"disabled", "auto\n"},
            {"schedule", "enable\n"}},
           package);
  EXPECT_EQ(package.version, fromImage);
  EXPECT_EQ(package.buildTime, 0u);
  EXPECT_TRUE(package.depends.empty());
  EXPECT_TRUE(package.provides.empty());
  EXPECT_TRUE(package.conflicts.empty());
  EXPECT_TRUE(package.bundle.name.empty());
  EXPECT_EQ(package.files, std::set<std::string>({"/bin/ppp"}));
  EXPECT_TRUE(package.disabled);
  EXPECT_EQ(package.action, PackageAction::Enable);
  EXPECT_TRUE(package.userForced);
}

TEST(PackageDatabaseRead, PackageFromAStoredImageWithoutFilesStaysAsLoaded) {
  Package package("ppp");
  package.version = 100000000;
  readFrom({{"disabled", "user\n"}}, package);
  EXPECT_FALSE(package.isBundle);
  EXPECT_TRUE(package.files.empty());
  EXPECT_EQ(package.action, PackageAction::None);
  EXPECT_TRUE(package.disabled);
}

// A directory where a file belongs reads like a file that cannot be read;
// so does a named pipe, which must not make the read wait.
TEST(PackageDatabaseRead, DirectoriesInPlaceOfFilesDoNotStopTheRead) {
  EntryFiles files;
  for (const char* file : {"version", "deps", "provides", "conflicts", "bundle", "files", "disabled", "schedule"})
    files[std::string(file) + "/x"] = "";
  Package package("ppp");
  readFrom(files, package);
  EXPECT_EQ(package.action, PackageAction::Uninstall);
  EXPECT_TRUE(package.depends.empty());
  EXPECT_TRUE(package.files.empty());
  EXPECT_FALSE(package.disabled);
}

// What a transaction holds for the files of one entry directory: the content
// of each staged creation, or "<removed>".
std::map<std::string, std::string> stagedEntry(const Transaction& transaction, const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& [path, op] : transaction) {
    if (path.compare(0, dir.size(), dir) != 0) continue;
    const std::string name = path.substr(dir.size());
    if (op.kind == OpKind::Create) files[name] = readFile(op.source);
    else if (op.kind == OpKind::Remove) files[name] = "<removed>";
    else files[name] = "<other>";
  }
  return files;
}

class PackageDatabaseWrite : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(writeFile(scratch_ / "ram/.keep", "")); }
  std::string dir(const std::string& name = "ppp") const { return BoardPaths(scratch_.path()).entryDirectory(name); }
  static std::unique_ptr<Package> ppp() {
    auto package = std::make_unique<Package>("ppp");
    package->version = makeVersion(6, 41, 'f', 0);
    package->buildTime = 1700000000;
    package->depends.push_back({"system", makeVersion(6, 41, 'f', 0), 0, 0});
    package->depends.push_back({"security", 0, makeVersion(6, 42, 'b', 1), 7});  // priority not written
    package->files = {"/bin/ppp", "/etc/ppp.conf"};
    return package;
  }

  ScratchDir scratch_;
  Transaction transaction_{BoardPaths(scratch_.path())};
};

// Files of an older version that the package no longer has are removed.
TEST_F(PackageDatabaseWrite, PlainPackageStagesEveryMetadataFileWithItsText) {
  for (const char* file : {"version", "deps", "provides", "conflicts", "bundle", "files", "disabled", "enabled"})
    ASSERT_TRUE(writeFile(dir() + file, "old\n"));
  ASSERT_TRUE(writeEntry(*ppp(), transaction_));
  const std::map<std::string, std::string> expected = {
      {"version", "103376384 1700000000\n"},
      {"deps", "system 103376384 0\nsecurity 0 103440897\n"},
      {"provides", "<removed>"},
      {"conflicts", "<removed>"},
      {"bundle", "<removed>"},
      {"files", "bin/ppp\netc/ppp.conf\n"},
      {"disabled", "<removed>"},
      {"enabled", "<removed>"},
  };
  EXPECT_EQ(stagedEntry(transaction_, dir()), expected);
}

TEST_F(PackageDatabaseWrite, ListsAndBundleAreWrittenWhenPresent) {
  const auto package = ppp();
  package->depends.clear();
  package->provides.push_back({"pppoe", 1, 2, -3});
  package->conflicts.push_back({"oldppp", 0, 4294967295u, 9});
  package->bundle = {"routing", 5, 5, 0};
  package->files = {"/bin/ppp", "", "sbin/x"};
  package->disabled = true;
  ASSERT_TRUE(writeEntry(*package, transaction_));
  const std::map<std::string, std::string> expected = {
      {"version", "103376384 1700000000\n"},
      {"deps", ""},
      {"provides", "pppoe 1 2 -3\n"},
      {"conflicts", "oldppp 0 4294967295\n"},
      {"bundle", "routing\n"},
      {"files", "bin/ppp\nsbin/x\n"},
      {"disabled", "auto\n"},
  };
  EXPECT_EQ(stagedEntry(transaction_, dir()), expected);
}

TEST_F(PackageDatabaseWrite, NewEntryStagesNoRemovalsOfAbsentFiles) {
  const auto package = ppp();
  package->userForced = true;
  ASSERT_TRUE(writeEntry(*package, transaction_));
  const std::map<std::string, std::string> staged = stagedEntry(transaction_, dir());
  for (const char* file : {"provides", "conflicts", "bundle", "disabled"}) EXPECT_EQ(staged.count(file), 0u) << file;
  EXPECT_EQ(staged.at("enabled"), "user\n");
}

TEST_F(PackageDatabaseWrite, WhatIsWrittenDependsOnImageBundleAndFlags) {
  struct Case {
    const char* what;
    bool hasImage;
    bool isBundle;
    uint32_t flags;
    bool disabled;
    bool userForced;
    std::map<std::string, std::string> expected;
  };
  const Case cases[] = {
      {"stored image keeps its files beside it", true, false, 0, true, true,
       {{"files", "bin/ppp\netc/ppp.conf\n"}, {"disabled", "user\n"}, {"enabled", "<removed>"}}},
      {"stored bundle image", true, true, 0, false, true,
       {{"disabled", "<removed>"}, {"enabled", "user\n"}}},
      {"no metadata at all", false, false, PackageFlag::NoMetadata, false, false,
       {{"disabled", "<removed>"}, {"enabled", "<removed>"}}},
      {"image without metadata", true, false, PackageFlag::NoMetadata | PackageFlag::BootImage, true, false,
       {{"disabled", "auto\n"}, {"enabled", "<removed>"}}},
      {"bundle without image", false, true, 0, false, false,
       {{"version", "103376384 1700000000\n"},
        {"deps", "system 103376384 0\nsecurity 0 103440897\n"},
        {"provides", "<removed>"},
        {"conflicts", "<removed>"},
        {"bundle", "<removed>"},
        {"disabled", "<removed>"},
        {"enabled", "<removed>"}}},
  };
  for (const Case& c : cases) {
    ScratchDir root;
    ASSERT_TRUE(writeFile(root / "ram/.keep", ""));
    Transaction transaction{BoardPaths(root.path())};
    for (const char* file : {"provides", "conflicts", "bundle", "disabled", "enabled"})
      ASSERT_TRUE(writeFile(BoardPaths(root.path()).entryDirectory("ppp") + file, "old\n"));
    const auto package = ppp();
    package->hasImage = c.hasImage;
    package->isBundle = c.isBundle;
    package->flags = c.flags;
    package->disabled = c.disabled;
    package->userForced = c.userForced;
    EXPECT_TRUE(writeEntry(*package, transaction)) << c.what;
    EXPECT_EQ(stagedEntry(transaction, BoardPaths(root.path()).entryDirectory("ppp")), c.expected) << c.what;
    transaction.cancel();
  }
}

// Written and read back, an entry gives the package it was written from.
TEST_F(PackageDatabaseWrite, CommittedEntryReadsBackAsWritten) {
  const auto written = ppp();
  written->provides.push_back({"pppoe", 0, 0, -1});
  written->files = {"/bin/a", "/bin/b"};
  written->disabled = true;
  written->userForced = true;
  ASSERT_TRUE(saveEntry(*written, transaction_));
  transaction_.commit(false);

  Package read("ppp");
  readEntry(read, BoardPaths(scratch_.path()));
  EXPECT_EQ(read.version, written->version);
  EXPECT_EQ(read.buildTime, written->buildTime);
  ASSERT_EQ(read.depends.size(), 2u);
  EXPECT_EQ(read.depends[1].max, written->depends[1].max);
  EXPECT_EQ(read.depends[1].priority, 0);
  ASSERT_EQ(read.provides.size(), 1u);
  EXPECT_EQ(read.provides[0].priority, -1);
  EXPECT_EQ(read.files, written->files);
  EXPECT_EQ(readFile(dir() + "files"), "bin/a\nbin/b\n");
  EXPECT_TRUE(read.disabled);
  EXPECT_TRUE(read.userForced);
  EXPECT_EQ(read.action, PackageAction::None);
}

// A replaced version that dropped every relation must not inherit the old
// lists on the next run.
TEST_F(PackageDatabaseWrite, ReplacingAVersionDropsItsStaleRelations) {
  const auto old = ppp();
  old->provides.push_back({"pppoe", 0, 0, 0});
  old->conflicts.push_back({"oldppp", 0, 0, 0});
  ASSERT_TRUE(saveEntry(*old, transaction_));
  transaction_.commit(false);

  Transaction replacing{BoardPaths(scratch_.path())};
  replacing.remove(dir());  // the old version is uninstalled first
  ASSERT_TRUE(saveEntry(*ppp(), replacing));
  replacing.commit(false);

  Package read("ppp");
  readEntry(read, BoardPaths(scratch_.path()));
  EXPECT_TRUE(read.provides.empty());
  EXPECT_TRUE(read.conflicts.empty());
  EXPECT_FALSE(pathExists(dir() + "provides"));
}

TEST_F(PackageDatabaseWrite, PrepareEntryRefusesWhatIsNoEntryDirectory) {
  const auto package = ppp();
  // Nothing there yet, or a directory: fine.
  EXPECT_TRUE(prepareEntry(*package, transaction_));
  ASSERT_TRUE(writeFile(dir() + "version", "1 1\n"));
  EXPECT_TRUE(prepareEntry(*package, transaction_));

  // A staged removal of the directory is taken back.
  transaction_.remove(dir());
  ASSERT_NE(transaction_.find(dir()), nullptr);
  EXPECT_TRUE(prepareEntry(*package, transaction_));
  EXPECT_EQ(transaction_.find(dir()), nullptr);

  // Something else staged for the path.
  transaction_.link("/flash/bootimage", dir());
  EXPECT_FALSE(prepareEntry(*package, transaction_));

  // A plain file where the directory belongs.
  Package other("other");
  ASSERT_TRUE(writeFile(scratch_ / "flash/var/pdb/other", "x"));
  EXPECT_FALSE(prepareEntry(other, transaction_));
  EXPECT_FALSE(saveEntry(other, transaction_));
  EXPECT_TRUE(stagedEntry(transaction_, dir("other")).empty());
}

TEST_F(PackageDatabaseWrite, StateWritersStageTheStateFilesOnly) {
  struct Case {
    const char* what;
    bool enable;
    bool userForced;
    std::map<std::string, std::string> expected;
  };
  const Case cases[] = {
      {"disable by the user", false, true, {{"enabled", "<removed>"}, {"disabled", "user\n"}}},
      {"disable automatically", false, false, {{"enabled", "<removed>"}, {"disabled", "auto\n"}}},
      {"enable by the user", true, true, {{"disabled", "<removed>"}, {"enabled", "user\n"}}},
      {"enable automatically", true, false, {{"disabled", "<removed>"}, {"enabled", "<removed>"}}},
  };
  for (const Case& c : cases) {
    ScratchDir root;
    ASSERT_TRUE(writeFile(BoardPaths(root.path()).entryDirectory("ppp") + "disabled", "auto\n"));
    ASSERT_TRUE(writeFile(BoardPaths(root.path()).entryDirectory("ppp") + "enabled", "user\n"));
    ASSERT_TRUE(writeFile(root / "ram/.keep", ""));
    Transaction transaction{BoardPaths(root.path())};
    const auto package = ppp();
    package->disabled = c.enable;
    package->userForced = c.userForced;
    package->action = c.enable ? PackageAction::Enable : PackageAction::Disable;
    if (c.enable)
      writeEnabled(*package, transaction);
    else
      writeDisabled(*package, transaction);
    EXPECT_EQ(stagedEntry(transaction, BoardPaths(root.path()).entryDirectory("ppp")), c.expected) << c.what;
    EXPECT_EQ(package->disabled, !c.enable) << c.what;
    EXPECT_EQ(package->action, PackageAction::None) << c.what;
    transaction.cancel();
  }
}

// A file that cannot be made is told by its label; what was staged before
// it stays staged, nothing after it is written.
TEST_F(PackageDatabaseWrite, UncreatableFileIsReportedWithItsLabel) {
  // A plain file where the entry directory belongs: the version file, the
  // first of the entry, cannot be made below it.
  ASSERT_TRUE(writeFile(scratch_ / "flash/var/pdb/ppp", "x"));
  const auto package = ppp();
  package->disabled = true;
  EntryFailure failure;
  EXPECT_FALSE(writeEntry(*package, transaction_, &failure));
  EXPECT_EQ(failure.file, "meta/version");
  EXPECT_EQ(failure.error, ENOTDIR);
  EXPECT_TRUE(transaction_.isEmpty());
}

class PackageDatabaseFullDisk : public PackageDatabaseWrite {
 protected:
  // A flash of five pages: two taken, one for the record of staged files.
  void SetUp() override {
    PackageDatabaseWrite::SetUp();
    flash_ = std::make_unique<TmpfsMount>(scratch_ / "flash", 5 * kPage);
    if (!flash_->mounted()) GTEST_SKIP() << flash_->error();
    ASSERT_TRUE(writeFile(scratch_ / "flash/filler", std::string(2 * kPage, 'f')));
  }
  void TearDown() override {
    transaction_.cancel();
    flash_.reset();
    PackageDatabaseWrite::TearDown();
  }

  static constexpr size_t kPage = 4096;
  std::unique_ptr<TmpfsMount> flash_;
};

// The deps file is staged on the flash, which has room for its size hint but
// not for its content: the disk fills up while the list is written.
TEST_F(PackageDatabaseFullDisk, FullFlashIsReportedAsDiskTooSmall) {
  const auto package = ppp();
  package->depends.clear();
  for (int i = 0; i < 400; ++i) package->depends.push_back({"dependency" + std::to_string(i), 1, 2, 0});
  EntryFailure failure;
  EXPECT_FALSE(writeEntry(*package, transaction_, &failure));
  EXPECT_EQ(failure.file, "meta/deps");
  EXPECT_EQ(failure.error, ENOSPC);
  // The version file was staged before the failure and stays; nothing after.
  const std::map<std::string, std::string> staged = stagedEntry(transaction_, dir());
  EXPECT_EQ(staged.count("version"), 1u);
  EXPECT_EQ(staged.count("deps"), 1u);  // staged, if cut short: the caller fails the installation
  EXPECT_EQ(staged.count("files"), 0u);
}

// With no room on the flash the files list goes to the staging fallback;
// when that is missing too, the failure names the file.
TEST_F(PackageDatabaseFullDisk, MissingFallbackIsReportedWithTheLabel) {
  ASSERT_EQ(::unlink((scratch_ / "ram/.keep").c_str()), 0);
  ASSERT_EQ(::rmdir((scratch_ / "ram").c_str()), 0);
  EntryFailure failure;
  EXPECT_FALSE(writeEntry(*ppp(), transaction_, &failure));
  EXPECT_EQ(failure.file, "meta/files");
  EXPECT_EQ(failure.error, ENOENT);
}

}  // namespace
