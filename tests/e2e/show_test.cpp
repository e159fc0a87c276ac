// --show on scratch boards: the installed packages as the database and the
// stored images describe them, printed as the fixed-width table.

#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "model/version.h"
#include "support/board.h"
#include "support/package_writer.h"

namespace {

#define SKIP_WITHOUT_BOARD(board) \
  if (!(board).usable()) GTEST_SKIP() << "no scratch board: " << (board).whyUnusable()

const std::string kTableHead =
    "            Name          Version                Built                                    Note\n" +
    std::string(94, '-') + "\n";
const std::string kNoNote(40, ' ');

const Version k640 = makeVersion(6, 40, 'f', 0);
const Version k641 = makeVersion(6, 41, 'f', 0);
const Version k6411 = makeVersion(6, 41, 'f', 1);
const Version k641beta3 = makeVersion(6, 41, 'b', 3);

// A plain package file as it is kept: header, metadata, image, contents and
// signature parts (the contents and signature are not read here).
std::string plainImage(const std::string& name, Version version, uint32_t buildTime, const std::string& note) {
  PackageWriter writer;
  writer.part(1, headerPayload(name, version, buildTime))
      .part(16, "powerpc")
      .part(23, note)
      .part(21, "")
      .part(4, zlibCompress(fileRecord(0100755, 0, "bin/" + name, "#!/bin/sh\n")))
      .part(9, std::string(64, 's'));
  return writer.bytes();
}

// A bundle image: its header, then each member's header, lists, contents
// and signature.
std::string bundleImage(const std::string& name, Version version, uint32_t buildTime, const std::string& note,
                        const std::vector<std::pair<std::string, Version>>& members) {
  PackageWriter writer;
  writer.part(18, headerPayload(name, version, buildTime)).part(23, note).part(20, listPayload({}));
  for (const auto& [member, memberVersion] : members) {
    writer.part(1, headerPayload(member, memberVersion, 1600000000))
        .part(3, listPayload({{name, version, version, 0}}))
        .part(4, zlibCompress(""))
        .part(9, std::string(64, 's'));
  }
  return writer.bytes();
}

// The names of the package database in the order the board's file system
// gives them, which is the order packages are loaded in.
std::vector<std::string> databaseOrder(const Board& board) {
  std::vector<std::string> names;
  DIR* dir = opendir(board.path("/flash/var/pdb").c_str());
  while (struct dirent* entry = dir ? readdir(dir) : nullptr)
    if (entry->d_name[0] != '.') names.push_back(entry->d_name);
  if (dir) closedir(dir);
  return names;
}

TEST(ShowMode, EmptyDatabasePrintsTheHeadOnly) {
  Board board;
  SKIP_WITHOUT_BOARD(board);
  const TreeSnapshot before = board.snapshot();
  RunResult run = board.runWithRoot({"--show"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kTableHead);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(diffSnapshots(before, board.snapshot()), "");
}

TEST(ShowMode, MissingDatabaseWarnsUnlessQuiet) {
  Board board;
  SKIP_WITHOUT_BOARD(board);
  ASSERT_EQ(rmdir(board.path("/flash/var/pdb").c_str()), 0);
  RunResult run = board.runWithRoot({"--show"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "WARNING: could not open repo\n" + kTableHead);

  RunResult quiet = board.runWithRoot({"-q", "--show"});
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.out, kTableHead);
  EXPECT_EQ(quiet.err, "");
}

// Entries with only metadata files, stored images in both places, a bundle
// with a disabled member, build time 0 and a name longer than the column.
class ShowBoard : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!board_.usable()) GTEST_SKIP() << "no scratch board: " << board_.whyUnusable();
    ASSERT_TRUE(board_.writeDatabaseEntry({"ppp", std::make_pair(k641, 1700000000u),
                                           std::vector<Dependency>{{"system", k641, 0, 0}}, std::nullopt,
                                           std::nullopt, std::nullopt, std::vector<std::string>{"bin/ppp"},
                                           std::nullopt, std::nullopt}));
    ASSERT_TRUE(board_.writeDatabaseEntry({"wireless-drivers-extra", std::make_pair(k640, 1700000000u),
                                           std::vector<Dependency>{}, std::nullopt, std::nullopt, std::nullopt,
                                           std::vector<std::string>{}, std::nullopt, std::string("user")}));
    ASSERT_TRUE(board_.write("/flash/var/pdb/system/image", plainImage("system", k6411, 0, "base system")));
    ASSERT_TRUE(board_.write("/flash/var/pdb/system/files", "bin/system\n"));
    ASSERT_TRUE(board_.write("/flash/var/pdb/routing/image",
                             bundleImage("routing", k641, 1500000000, "routing bundle",
                                         {{"ospf", k641}, {"bgp", k641beta3}})));
    ASSERT_TRUE(board_.write("/flash/var/pdb/bgp/disabled", "user\n"));
    ASSERT_TRUE(board_.write("/flash/var/pdb/dhcp/files", "bin/dhcp\n"));
    ASSERT_TRUE(board_.write("/rw/pckg/.images/dhcp", plainImage("dhcp", k640, 1700000000, "dhcp client")));
    ASSERT_TRUE(board_.write("/flash/var/pdb/wifi/enabled", "user\n"));
    ASSERT_TRUE(board_.write("/rw/pckg/.images/wifi", bundleImage("wifi", k640, 0, "", {{"wlan", k640}})));
  }

  // Every line of the table, in the order the loader finds the packages:
  // images in the database (members before their bundle), images in the
  // second place, then the entries without an image.
  std::string expectedTable() const {
    const std::map<std::string, std::vector<std::string>> fromDatabaseImages = {
        {"system", {"          system    " "       6.41.1 Jan/01/1970 00:00:00 " + std::string(29, ' ') + "base system\n"}},
        {"routing",
         {"            ospf  B " "         6.41 Sep/13/2020 12:26:40 " + kNoNote + "\n",
          "             bgp XB " "    6.41beta3 Sep/13/2020 12:26:40 " + kNoNote + "\n",
          "         routing    " "         6.41 Jul/14/2017 02:40:00 " + std::string(26, ' ') + "routing bundle\n"}},
    };
    const std::map<std::string, std::vector<std::string>> fromSecondPlace = {
        {"dhcp", {"            dhcp    " "         6.40 Nov/14/2023 22:13:20 " + std::string(29, ' ') + "dhcp client\n"}},
        {"wifi",
         {"            wlan  B " "         6.40 Sep/13/2020 12:26:40 " + kNoNote + "\n",
          "            wifi    " "         6.40 Jan/01/1970 00:00:00 " + kNoNote + "\n"}},
    };
    const std::map<std::string, std::string> fromEntries = {
        {"ppp", "             ppp    " "         6.41 Nov/14/2023 22:13:20 " + kNoNote + "\n"},
        {"wireless-drivers-extra",
         "wireless-drivers-extra    " "         6.40 Nov/14/2023 22:13:20 " + kNoNote + "\n"},
    };
    std::string table = kTableHead;
    const std::vector<std::string> order = databaseOrder(board_);
    for (const std::string& name : order)
      if (fromDatabaseImages.count(name))
        for (const std::string& line : fromDatabaseImages.at(name)) table += line;
    for (const std::string& name : order)
      if (fromSecondPlace.count(name))
        for (const std::string& line : fromSecondPlace.at(name)) table += line;
    for (const std::string& name : order)
      if (fromEntries.count(name)) table += fromEntries.at(name);
    return table;
  }

  Board board_;
};

TEST_F(ShowBoard, PrintsEveryInstalledPackageAndChangesNothing) {
  const TreeSnapshot before = board_.snapshot();
  RunResult run = board_.runWithRoot({"--show"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, expectedTable());
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(diffSnapshots(before, board_.snapshot()), "");
}

TEST_F(ShowBoard, QuietDoesNotSilenceTheTable) {
  RunResult run = board_.runWithRoot({"-q", "--show"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, expectedTable());
}

// Schedule words and broken entries change actions, not what is shown.
TEST_F(ShowBoard, ScheduledAndBrokenEntriesAreListedLikeAnyOther) {
  ASSERT_TRUE(board_.writeSchedule("ppp", "uninstall"));
  ASSERT_TRUE(board_.writeSchedule("system", "disable"));
  ASSERT_TRUE(board_.write("/flash/var/pdb/wireless-drivers-extra/deps", "system 5\n"));
  RunResult run = board_.runWithRoot({"--show"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, expectedTable());
}

}  // namespace
