// The upgrade run on scratch boards: the package files of the package
// directories installed in dependency order, committed at once or saved for
// later, with the board compared whole afterwards.

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "model/version.h"
#include "support/board.h"
#include "support/package_writer.h"
#include "support/packaging_tool.h"
#include "support/scratch_dir.h"
#include "support/signed_package.h"

namespace {

#define SKIP_WITHOUT_BOARD(board) \
  if (!(board).usable()) GTEST_SKIP() << "no scratch board: " << (board).whyUnusable()

const std::string kBuilt = std::to_string(kTestBuildTime);
const std::string k10 = std::to_string(makeVersion(1, 0, 'f', 0));

// Builds the package into the board's first package directory.
void offer(Board& board, const PackageRecipe& recipe, const std::string& directory = "/flash/rw/pckg/") {
  std::string messages;
  ASSERT_TRUE(buildPackageFile(recipe, board.path(directory + recipe.name + "-" + recipe.version + ".vpa"), &messages))
      << messages;
}

// The database entry of a plain package as an installation writes it.
void expectEntry(TreeSnapshot& expected, const std::string& name, const std::string& versionLine,
                 const std::string& deps, const std::string& files) {
  const std::string dir = "/flash/var/pdb/" + name;
  expected[dir] = directoryEntry();
  expected[dir + "/version"] = fileEntry(versionLine + " " + kBuilt + "\n", 0600);
  expected[dir + "/deps"] = fileEntry(deps, 0600);
  expected[dir + "/files"] = fileEntry(files, 0600);
}

// A package installed earlier, known by its database entry, with one file
// "/flash/bin/NAME".
void installByEntry(Board& board, const std::string& name, const std::string& version) {
  const int major = std::stoi(version);
  const int minor = std::stoi(version.substr(version.find('.') + 1));
  DatabaseEntry entry;
  entry.name = name;
  entry.version = std::make_pair(makeVersion(major, minor, 'f', 0), 1000u);
  entry.files = std::vector<std::string>{"bin/" + name};
  ASSERT_TRUE(board.writeDatabaseEntry(entry));
  ASSERT_TRUE(board.write("/flash/bin/" + name, name));
}

// Directories the installation makes for the files it places.
void expectDirectories(TreeSnapshot& expected, const std::vector<std::string>& paths) {
  for (const std::string& path : paths) expected[path] = directoryEntry();
}

TEST(UpgradeMode, InstallsThePackageFilesInDependencyOrderAndRecordsThem) {
  Board board;
  SKIP_WITHOUT_BOARD(board);
  offer(board, {"app", "1.0", {{"bin/app", "#!/bin/sh\necho app\n"}}, {"--depends", "lib:1.0"}});
  offer(board, {"lib", "1.0", {{"lib/liblib.so", std::string(70000, 'L')}, {"etc/lib.conf", ""}}, {}});
  TreeSnapshot expected = board.snapshot();

  RunResult run = board.runWithRoot({});

  expectDirectories(expected, {"/flash/bin", "/flash/lib", "/flash/etc"});
  expected["/flash/bin/app"] = fileEntry("#!/bin/sh\necho app\n", 0755);
  expected["/flash/lib/liblib.so"] = fileEntry(std::string(70000, 'L'), 0644);
  expected["/flash/etc/lib.conf"] = fileEntry("", 0644);
  expectEntry(expected, "app", k10, "lib " + k10 + " 0\n", "bin/app\n");
  expectEntry(expected, "lib", k10, "", "etc/lib.conf\nlib/liblib.so\n");
  expected["/flash/PCKGS_CHANGED"] = fileEntry("", 0600);
  expected["/flash/postlog"] = fileEntry("installed lib-1.0\ninstalled app-1.0\n", 0644);
  EXPECT_EQ(diffSnapshots(expected, board.snapshot()), "");
  EXPECT_LT(run.out.find("installed lib-1.0\n"), run.out.find("installed app-1.0\n")) << run.out;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
}

TEST(UpgradeMode, ANewerVersionReplacesTheInstalledOneAndItsFiles) {
  Board board;
  SKIP_WITHOUT_BOARD(board);
  offer(board, {"tool", "1.0", {{"bin/tool", "one"}, {"etc/tool.old", "old"}}, {}});
  ASSERT_EQ(board.runWithRoot({}).status, 0);
  offer(board, {"tool", "1.1", {{"bin/tool", "one point one"}}, {}});

  RunResult run = board.runWithRoot({});

  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("installed tool-1.1\n"), std::string::npos) << run.out;
  TreeSnapshot after = board.snapshot();
  EXPECT_EQ(after["/flash/bin/tool"], fileEntry("one point one", 0755));
  EXPECT_EQ(after.count("/flash/etc/tool.old"), 0u);
  EXPECT_EQ(after["/flash/var/pdb/tool/files"], fileEntry("bin/tool\n", 0600));
  // Both runs' messages, the first run's read back and rewritten before the
  // second's.
  EXPECT_EQ(after["/flash/postlog"].data,
            "installed tool-1.0\nWARNING: omitting package tool-1.0: newer package is already provided\n"
            "installed tool-1.1\n");
}

TEST(UpgradeMode, ASafeRunChangesNothingUntilTheCommitWhichGivesTheSameBoard) {
  Board safe;
  Board direct;
  SKIP_WITHOUT_BOARD(safe);
  for (Board* board : {&safe, &direct}) {
    offer(*board, {"app", "2.0", {{"bin/app", "app"}, {"share/app/data", std::string(5000, 'd')}}, {}});
  }
  const TreeSnapshot before = safe.snapshot();

  RunResult staged = safe.runWithRoot({"--safe"});

  EXPECT_EQ(staged.status, 0);
  TreeSnapshot afterStaging = safe.snapshot();
  EXPECT_EQ(afterStaging.count("/ram/MANIFEST"), 1u);
  EXPECT_EQ(afterStaging.count("/flash/bin/app"), 0u);
  EXPECT_EQ(afterStaging.count("/flash/var/pdb/app"), 0u);
  EXPECT_EQ(afterStaging.count("/flash/PCKGS_CHANGED"), 0u);

  RunResult committed = safe.runInside({"--commit"});
  ASSERT_EQ(direct.runWithRoot({}).status, 0);

  EXPECT_EQ(committed.status, 0);
  TreeSnapshot afterCommit = safe.snapshot();
  afterCommit.erase("/ram/MANIFEST");
  EXPECT_EQ(diffSnapshots(direct.snapshot(), afterCommit), "");
  EXPECT_NE(diffSnapshots(before, afterCommit), "");
}

TEST(UpgradeMode, WithoutFlashSpaceNothingChangesAndTheStatusIs28) {
  Board board;
  SKIP_WITHOUT_BOARD(board);
  if (!board.mountTmpfs("/flash", 512 << 10)) GTEST_SKIP() << board.whyUnusable();
  for (const char* dir : {"/flash/var/pdb/.keep", "/flash/rw/pckg/.keep", "/flash/boot/.keep"}) {
    ASSERT_TRUE(board.write(dir, ""));
  }
  // The 300 KB package file and the 300 KB it installs cannot both fit a
  // 512 KB flash.
  offer(board, {"big", "1.0", {{"lib/big", incompressibleBytes(300 << 10)}}, {}});
  TreeSnapshot expected = board.snapshot();

  RunResult run = board.runWithRoot({"--safe"});

  EXPECT_EQ(run.status, 28);
  EXPECT_NE(run.out.find("ERROR: not enough space for upgrade\n"), std::string::npos) << run.out;
  expected["/flash/postlog"] = fileEntry("installed big-1.0\nERROR: not enough space for upgrade\n", 0644);
  EXPECT_EQ(diffSnapshots(expected, board.snapshot()), "");
}

TEST(UpgradeMode, APackageThatFailsCancelsTheWholeRunWithTheScheduledActions) {
  Board board;
  SKIP_WITHOUT_BOARD(board);
  installByEntry(board, "old", "1.0");
  ASSERT_TRUE(board.writeSchedule("old", "uninstall"));
  offer(board, {"lib", "1.0", {{"lib/liblib.so", "lib"}}, {}});
  offer(board, {"app", "1.0", {{"bin/app", std::string(4000, 'a')}}, {"--depends", "lib"}});
  // One byte of app's compressed contents damaged: its signature cannot hold.
  std::string file = readFile(board.path("/flash/rw/pckg/app-1.0.vpa"));
  file[file.size() - 100] ^= 0x01;
  ASSERT_TRUE(board.write("/flash/rw/pckg/app-1.0.vpa", file));
  TreeSnapshot expected = board.snapshot();

  RunResult run = board.runWithRoot({});

  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("ERROR: installation of app-1.0 failed: broken package\n"), std::string::npos) << run.out;
  expected["/flash/postlog"] = board.snapshot()["/flash/postlog"];
  EXPECT_NE(expected["/flash/postlog"].data.find("installed lib-1.0\n"), std::string::npos);
  EXPECT_EQ(diffSnapshots(expected, board.snapshot()), "");
}

TEST(UpgradeMode, TheDowngradeMarkerAllowsAnOlderVersionOnceAndIsGone) {
  Board board;
  SKIP_WITHOUT_BOARD(board);
  offer(board, {"tool", "2.0", {{"bin/tool", "two"}}, {}});
  ASSERT_EQ(board.runWithRoot({}).status, 0);
  ASSERT_EQ(::unlink(board.path("/flash/rw/pckg/tool-2.0.vpa").c_str()), 0);
  offer(board, {"tool", "1.0", {{"bin/tool", "one"}}, {}});

  RunResult refused = board.runWithRoot({});
  EXPECT_EQ(board.snapshot()["/flash/bin/tool"].data, "two") << refused.out;

  ASSERT_TRUE(board.write("/rw/DOWNGRADE", ""));
  RunResult downgraded = board.runWithRoot({});

  EXPECT_EQ(downgraded.status, 0);
  TreeSnapshot after = board.snapshot();
  EXPECT_EQ(after["/flash/bin/tool"].data, "one") << downgraded.out;
  EXPECT_EQ(after.count("/rw/DOWNGRADE"), 0u);
}

TEST(UpgradeMode, OnlyTheFirstPackageDirectoryWithPackagesIsUsed) {
  Board board;
  SKIP_WITHOUT_BOARD(board);
  offer(board, {"first", "1.0", {{"bin/first", "1"}}, {}}, "/flash/rw/pckg/");
  offer(board, {"second", "1.0", {{"bin/second", "2"}}, {}}, "/flash/var/pckg/");

  ASSERT_EQ(board.runWithRoot({}).status, 0);
  TreeSnapshot after = board.snapshot();
  EXPECT_EQ(after.count("/flash/bin/first"), 1u);
  EXPECT_EQ(after.count("/flash/bin/second"), 0u);

  ASSERT_EQ(::unlink(board.path("/flash/rw/pckg/first-1.0.vpa").c_str()), 0);
  ASSERT_EQ(board.runWithRoot({}).status, 0);
  EXPECT_EQ(board.snapshot().count("/flash/bin/second"), 1u);
}

TEST(UpgradeMode, NothingToInstallChangesNothingEvenWhenSafe) {
  Board board;
  SKIP_WITHOUT_BOARD(board);
  installByEntry(board, "system", "6.41");
  ASSERT_TRUE(board.write("/flash/postlog", "from an earlier run\n"));
  const TreeSnapshot before = board.snapshot();
  RunResult run = board.runWithRoot({"--safe"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(diffSnapshots(before, board.snapshot()), "");
}

TEST(UpgradeMode, AnEmptyBoardWithNothingToInstallIsReportedAsAFailedInstallation) {
  Board board;
  SKIP_WITHOUT_BOARD(board);
  RunResult run = board.runWithRoot({});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "ERROR: router installation failed!!!\n");
  EXPECT_EQ(board.snapshot()["/flash/postlog"].data, "ERROR: router installation failed!!!\n");
}

TEST(UpgradeMode, APackageKeptAsAStoredImageMovesIntoItsDatabaseEntry) {
  Board board;
  SKIP_WITHOUT_BOARD(board);
  offer(board, {"suite", "3.0", {{"bin/suite", "suite"}}, {"--image"}});
  const std::string packageFile = readFile(board.path("/flash/rw/pckg/suite-3.0.vpa"));

  ASSERT_EQ(board.runWithRoot({}).status, 0);

  TreeSnapshot after = board.snapshot();
  EXPECT_EQ(after.count("/flash/rw/pckg/suite-3.0.vpa"), 0u);
  EXPECT_EQ(after["/flash/var/pdb/suite/image"].data, packageFile);
  EXPECT_EQ(after["/flash/bin/suite"].data, "suite");
  RunResult show = board.runWithRoot({"--show"});
  EXPECT_NE(show.out.find("suite"), std::string::npos) << show.out;
}

// The processor classes of the file records this board takes: every board
// takes class 0; the emulated board runs with its class in the environment,
// this machine's stand-in register has none.
std::vector<int> classesForThisBoard() {
  const char* expected = std::getenv("INSTALLER_EXPECTED_PROCESSOR_CLASS");
  if (!expected || std::string(expected) == "none" || std::string(expected).empty()) return {0};
  return {0, std::atoi(expected)};
}

TEST(UpgradeMode, InstallsOnlyTheFileRecordsMeantForThisBoardsProcessor) {
  Board board;
  SKIP_WITHOUT_BOARD(board);
  PackageRecipe recipe{"drivers", "1.0", {}, {}};
  for (int c = 0; c <= 4; ++c) {
    const std::string path = "lib/class" + std::to_string(c);
    recipe.files.push_back({path, "for class " + std::to_string(c)});
    if (c != 0) recipe.options.insert(recipe.options.end(), {"--class", path + "=" + std::to_string(c)});
  }
  offer(board, recipe);

  RunResult run = board.runWithRoot({});

  ASSERT_EQ(run.status, 0) << run.out;
  const std::vector<int> wanted = classesForThisBoard();
  TreeSnapshot after = board.snapshot();
  std::string recorded;
  for (int c = 0; c <= 4; ++c) {
    const std::string path = "/lib/class" + std::to_string(c);
    const bool installs = std::find(wanted.begin(), wanted.end(), c) != wanted.end();
    EXPECT_EQ(after.count("/flash" + path), installs ? 1u : 0u) << "class " << c;
    if (installs) recorded += path.substr(1) + "\n";
  }
  EXPECT_EQ(after["/flash/var/pdb/drivers/files"].data, recorded);
}

// A bundle of members built from the recipes, into the board's first package
// directory; startDisabled names members that start disabled.
void offerBundle(Board& board, const std::string& name, const std::string& version,
                 const std::vector<PackageRecipe>& members, const std::vector<std::string>& startDisabled) {
  ScratchDir scratch;
  std::vector<std::string> words{"bundle", "--key", developmentKeyPath(), "--name", name, "--version", version,
                                 "--build-time", std::to_string(kTestBuildTime)};
  for (const std::string& member : startDisabled) words.insert(words.end(), {"--start-disabled", member});
  words.insert(words.end(), {"-o", board.path("/flash/rw/pckg/" + name + "-" + version + ".vpa")});
  for (const PackageRecipe& member : members) {
    std::string messages;
    ASSERT_TRUE(buildPackageFile(member, scratch / (member.name + ".vpa"), &messages)) << messages;
    words.push_back(scratch / (member.name + ".vpa"));
  }
  std::string messages;
  ASSERT_TRUE(runPackagingTool(words, &messages)) << messages;
}

TEST(UpgradeMode, ABundleInstallsItsMembersAndItsNextVersionUninstallsTheMemberItDropped) {
  Board board;
  SKIP_WITHOUT_BOARD(board);
  const PackageRecipe bgp{"bgp", "6.41", {{"bin/bgpd", "bgp"}}, {}};
  const PackageRecipe ospf{"ospf", "6.41", {{"bin/ospfd", "ospf"}}, {}};
  const PackageRecipe rip{"rip", "6.41", {{"bin/ripd", "rip"}}, {}};
  offerBundle(board, "routing", "6.41", {bgp, ospf, rip}, {"bgp"});

  RunResult first = board.runWithRoot({});

  EXPECT_EQ(first.status, 0);
  EXPECT_NE(first.out.find("installed routing-6.41\n"), std::string::npos) << first.out;
  TreeSnapshot after = board.snapshot();
  EXPECT_EQ(after["/flash/bin/ospfd"].data, "ospf");
  EXPECT_EQ(after["/flash/bin/ripd"].data, "rip");
  EXPECT_EQ(after["/flash/x/bgp/bin/bgpd"].data, "bgp");  // started disabled
  EXPECT_EQ(after["/flash/var/pdb/bgp/disabled"].data, "auto\n");
  EXPECT_EQ(after["/flash/var/pdb/ospf/bundle"].data, after["/flash/var/pdb/rip/bundle"].data);
  EXPECT_EQ(after.count("/flash/rw/pckg/routing-6.41.vpa"), 0u);  // kept as the stored image
  EXPECT_EQ(after.count("/flash/var/pdb/routing/image"), 1u);

  offerBundle(board, "routing", "6.42", {{"ospf", "6.42", {{"bin/ospfd", "ospf 6.42"}}, {}}, bgp}, {"bgp"});
  RunResult second = board.runWithRoot({});

  EXPECT_EQ(second.status, 0);
  EXPECT_NE(second.out.find("installed routing-6.42\n"), std::string::npos) << second.out;
  after = board.snapshot();
  EXPECT_EQ(after["/flash/bin/ospfd"].data, "ospf 6.42");
  EXPECT_EQ(after.count("/flash/bin/ripd"), 0u);
  EXPECT_EQ(after.count("/flash/var/pdb/rip"), 0u);
  EXPECT_EQ(after["/flash/x/bgp/bin/bgpd"].data, "bgp");
  RunResult show = board.runWithRoot({"--show"});
  EXPECT_NE(show.out.find("routing             6.42"), std::string::npos) << show.out;
  EXPECT_EQ(show.out.find(" rip "), std::string::npos) << show.out;
}

// Refusals: a candidate the system has nothing to do for is passed over;
// any other refusal cancels the run with everything staged before it, the
// scheduled actions included, and only the post-install log changes.
TEST(UpgradeMode, ACandidateRefusedForAnythingButItsAgeCancelsTheWholeRun) {
  struct Case {
    const char* what;
    std::vector<std::string> options;
    const char* error;
  };
  const Case cases[] = {
      {"another architecture", {"--arch", "powerpc"}, "can not install foo-1.0: it is not made for i386, but for powerpc"},
      {"a missing dependency", {"--depends", "missing:2.0"}, "can not install foo-1.0: missing-2.0 is not installed, but is required"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Board board;
    SKIP_WITHOUT_BOARD(board);
    installByEntry(board, "base", "1.0");
    installByEntry(board, "old", "1.0");
    ASSERT_TRUE(board.writeSchedule("old", "uninstall"));
    offer(board, {"lib", "1.0", {{"lib/liblib.so", "lib"}}, {}});
    PackageRecipe refused{"foo", "1.0", {{"bin/foo", "foo"}}, {"--depends", "lib"}};  // after lib
    refused.options.insert(refused.options.end(), c.options.begin(), c.options.end());
    offer(board, refused);
    TreeSnapshot expected = board.snapshot();

    RunResult run = board.runWithRoot({});

    EXPECT_EQ(run.status, 0);
    expected["/flash/postlog"] = fileEntry("installed lib-1.0\nERROR: " + std::string(c.error) + "\n", 0644);
    EXPECT_EQ(diffSnapshots(expected, board.snapshot()), "") << run.out;
  }
}

TEST(UpgradeMode, AnInstalledPackageFileLeftInTheDirectoryIsPassedOverWithAWarning) {
  Board board;
  SKIP_WITHOUT_BOARD(board);
  offer(board, {"tool", "1.0", {{"bin/tool", "tool"}}, {}});
  ASSERT_EQ(board.runWithRoot({}).status, 0);
  offer(board, {"extra", "1.0", {{"bin/extra", "extra"}}, {}});

  RunResult run = board.runWithRoot({});

  EXPECT_EQ(run.status, 0);
  TreeSnapshot after = board.snapshot();
  EXPECT_EQ(after["/flash/bin/extra"], fileEntry("extra", 0755));
  EXPECT_EQ(after.count("/flash/rw/pckg/tool-1.0.vpa"), 1u);
  // The two candidates come in directory order.
  const std::string log = after["/flash/postlog"].data;
  EXPECT_EQ(log.substr(0, 19), "installed tool-1.0\n");
  EXPECT_NE(log.find("\nWARNING: omitting package tool-1.0: it is already installed\n"), std::string::npos) << log;
  EXPECT_NE(log.find("\ninstalled extra-1.0\n"), std::string::npos) << log;
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 3) << log;
}

// The file offsets of a package file's part headers.
std::vector<size_t> partOffsets(const std::string& file) {
  std::vector<size_t> offsets;
  for (size_t at = 8; at + 6 <= file.size();) {
    offsets.push_back(at);
    at += 6 + (uint8_t(file[at + 2]) | uint8_t(file[at + 3]) << 8 | uint8_t(file[at + 4]) << 16 |
               uint32_t(uint8_t(file[at + 5])) << 24);
  }
  return offsets;
}

void setLength(std::string& bytes, size_t at, uint32_t length) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(length >> (8 * i));
}

// Damage that reading the header parts cannot see: the file is a candidate,
// and installing it finds it broken and cancels the run.
TEST(UpgradeMode, AFileFoundBrokenWhileInstallingCancelsTheWholeRun) {
  struct Case {
    const char* what;
    std::string (*damage)(std::string file);
  };
  const Case cases[] = {
      {"signature part longer than the file",
       [](std::string file) {
         setLength(file, partOffsets(file).back() + 2, 1000000);
         return file;
       }},
      {"file container cut, file length adjusted",
       [](std::string file) {
         file.resize(partOffsets(file).back() - 40);
         setLength(file, 4, static_cast<uint32_t>(file.size() - 8));
         return file;
       }},
      {"a record name holding a newline",
       [](std::string) {
         const std::string parts =
             partHeader(1, 32) + headerPayload("foo", makeVersion(1, 0, 'f', 0), kTestBuildTime) +
             partHeader(3, 2 + 32) + listPayload({Dependency{"lib"}}) +
             [] {
               const std::string container = zlibCompress(fileRecord(0100644, 0, "bin/a\nb", "x"));
               return partHeader(4, static_cast<uint32_t>(container.size())) + container;
             }();
         return PackageWriter().raw(signedPackageParts(developmentSigningKey(), parts)).bytes();
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Board board;
    SKIP_WITHOUT_BOARD(board);
    installByEntry(board, "base", "1.0");
    installByEntry(board, "old", "1.0");
    ASSERT_TRUE(board.writeSchedule("old", "uninstall"));
    offer(board, {"lib", "1.0", {{"lib/liblib.so", "lib"}}, {}});
    offer(board, {"foo", "1.0", {{"bin/foo", incompressibleBytes(5000)}}, {"--depends", "lib"}});
    const std::string file = board.path("/flash/rw/pckg/foo-1.0.vpa");
    ASSERT_TRUE(writeFile(file, c.damage(readFile(file))));
    TreeSnapshot expected = board.snapshot();

    RunResult run = board.runWithRoot({});

    EXPECT_EQ(run.status, 0);
    expected["/flash/postlog"] =
        fileEntry("installed lib-1.0\nERROR: installation of foo-1.0 failed: broken package\n", 0644);
    EXPECT_EQ(diffSnapshots(expected, board.snapshot()), "") << run.out;
  }
}

// A package active under its own name and under a name it provides, disabled
// on the way and enabled again at the end, is enabled once per name. Here the
// bundle's first member conflicts with net and disables it; its second member
// replaces the version of dep the first one needs, which uninstalls the first.
TEST(UpgradeMode, APackageDisabledOnTheWayIsEnabledAgainOncePerNameItWasActiveUnder) {
  Board board;
  SKIP_WITHOUT_BOARD(board);
  DatabaseEntry dep, net;
  dep.name = "dep";
  net.name = "net";
  for (DatabaseEntry* entry : {&dep, &net}) {
    entry->version = std::make_pair(makeVersion(1, 0, 'f', 0), 1000u);
    entry->deps = std::vector<Dependency>{};
    entry->files = std::vector<std::string>{};
  }
  net.provides = std::vector<Dependency>{{"ip"}};
  ASSERT_TRUE(board.writeDatabaseEntry(dep));
  ASSERT_TRUE(board.writeDatabaseEntry(net));
  offerBundle(board, "suite", "1.0",
              {{"x", "1.0", {}, {"--conflicts", "net", "--depends", "dep:1.0:1.0"}}, {"dep", "2.0", {}, {}}}, {});

  RunResult run = board.runWithRoot({});

  EXPECT_EQ(run.status, 0);
  TreeSnapshot after = board.snapshot();
  EXPECT_EQ(after["/flash/postlog"].data, "installed suite-1.0\nenabled net-1.0\nenabled net-1.0\n");
  EXPECT_EQ(after.count("/flash/var/pdb/net/disabled"), 0u);
  EXPECT_EQ(after.count("/flash/var/pdb/x"), 0u);
}

}  // namespace
