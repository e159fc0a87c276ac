// A board never lies about what is installed: a nearly full flash, a damaged
// manifest, damaged database entries, bytes no signature covers and named
// pipes in place of the board's files leave the old state or the new one,
// and nothing outside /flash is touched.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "model/version.h"
#include "support/board.h"
#include "support/package_writer.h"
#include "support/packaging_tool.h"
#include "support/scratch_dir.h"

namespace {

#define SKIP_WITHOUT_BOARD(board) \
  if (!(board).usable()) GTEST_SKIP() << "no scratch board: " << (board).whyUnusable()

const std::string kPackageDirectory = "/flash/rw/pckg/";

std::string packageBytes(const PackageRecipe& recipe) {
  ScratchDir scratch;
  std::string messages;
  EXPECT_TRUE(buildPackageFile(recipe, scratch / "package.vpa", &messages)) << messages;
  return readFile(scratch / "package.vpa");
}

RunInput fromStandardInput(const std::string& bytes) {
  RunInput input;
  input.standardInput = bytes;
  return input;
}

// A package installed earlier, known by its database entry, with its files.
void installByEntry(Board& board, const std::string& name, const std::vector<std::pair<std::string, std::string>>& files) {
  DatabaseEntry entry;
  entry.name = name;
  entry.version = std::make_pair(makeVersion(1, 0, 'f', 0), 1000u);
  entry.deps = std::vector<Dependency>{};
  entry.files = std::vector<std::string>{};
  for (const auto& [path, content] : files) {
    entry.files->push_back(path);
    ASSERT_TRUE(board.write("/flash/" + path, content));
  }
  ASSERT_TRUE(board.writeDatabaseEntry(entry));
}

uint64_t freeBlocks(const std::string& path) {
  struct statfs info;
  return ::statfs(path.c_str(), &info) == 0 ? info.f_bfree : 0;
}

// The temporary files left anywhere on the board.
std::vector<std::string> leftovers(const TreeSnapshot& tree) {
  std::vector<std::string> found;
  for (const auto& [path, entry] : tree) {
    const std::string name = path.substr(path.rfind('/') + 1);
    if (name.rfind("tmp", 0) == 0 || name.rfind(".tmp", 0) == 0 || name == ".journal" || name == ".staged")
      found.push_back(path);
  }
  return found;
}

// A new file of 400 KB (100 blocks) replaces one of 80 blocks. With 105
// blocks free it is staged in /ram (it has no room for itself and a tenth on
// flash), yet fits when copied; with 95 free the space check (95 - 100 + 80
// blocks stay) passes, but the copy beside the old file cannot be made. Either
// the whole new state and status 0, or the old state and the failure.
TEST(NearlyFullFlash, AFileThatDoesNotFitBesideTheOldOneLeavesTheOldStateInEveryMode) {
  const std::string oldContent(80 * 4096, 'o');
  const std::string newContent(400 * 1024, 'n');
  struct Case {
    bool imageMode;
    uint64_t free;
    int status;
    const char* message;
  };
  const Case cases[] = {
      {false, 105, 0, nullptr},
      {false, 95, 28, "ERROR: not enough space for upgrade"},
      {true, 105, 0, nullptr},
      {true, 95, 28, "ERROR: could not commit /flash/bin/big: No space left on device"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.imageMode ? "image mode, " : "upgrade, ") + std::to_string(c.free) + " blocks");
    Board board;
    SKIP_WITHOUT_BOARD(board);
    const std::string package = packageBytes({"big", "2.0", {{"bin/big", newContent}}, {}});
    if (!board.mountTmpfs("/flash", 4 << 20)) GTEST_SKIP() << board.whyUnusable();
    for (const char* dir : {"/flash/boot/.keep", "/flash/rw/pckg/.keep", "/flash/var/pdb/.keep"})
      ASSERT_TRUE(board.write(dir, ""));
    installByEntry(board, "big", {{"bin/big", oldContent}});
    if (!c.imageMode) {
      ASSERT_TRUE(board.write(kPackageDirectory + "big-2.0.vpa", package));
    }
    const uint64_t now = freeBlocks(board.path("/flash"));
    ASSERT_GT(now, c.free);
    ASSERT_TRUE(board.write("/flash/other", std::string((now - c.free) * 4096, 'x')));
    ASSERT_EQ(freeBlocks(board.path("/flash")), c.free);
    TreeSnapshot before = board.snapshot();

    RunResult run = c.imageMode ? board.runWithRoot({"-"}, fromStandardInput(package)) : board.runWithRoot({});

    EXPECT_EQ(run.status, c.status) << run.out;
    TreeSnapshot after = board.snapshot();
    EXPECT_EQ(leftovers(after), std::vector<std::string>{});
    if (c.message == nullptr) {
      EXPECT_EQ(after["/flash/bin/big"], fileEntry(newContent, 0755));
      continue;
    }
    before["/flash/postlog"] = fileEntry("installed big-2.0\n" + std::string(c.message) + "\n");
    EXPECT_EQ(diffSnapshots(before, after), "") << run.out;
  }
}

// A manifest cut short or reaching outside the flash is never applied.
TEST(DamagedManifest, ACutManifestIsNotCommittedAndASaveThatFailsLeavesNone) {
  Board board;
  SKIP_WITHOUT_BOARD(board);
  ASSERT_TRUE(board.write("/flash/lib/shared", "another package's"));
  ASSERT_TRUE(board.write("/ram/tmpAbCdEf", "new"));
  ASSERT_TRUE(board.write("/ram/MANIFEST", "U /flash/lib\nM /flash/lib/new /ram/tmpAbCd"));
  TreeSnapshot before = board.snapshot();

  RunResult commit = board.runInside({"--commit"});

  EXPECT_EQ(commit.status, 1);
  EXPECT_EQ(commit.out, "ERROR: damaged manifest /ram/MANIFEST: nothing was changed\n");
  EXPECT_EQ(diffSnapshots(before, board.snapshot()), "");

  // A RAM disk with no room for the manifest: the save fails whole.
  ASSERT_EQ(::unlink(board.path("/ram/MANIFEST").c_str()), 0);
  ASSERT_EQ(::unlink(board.path("/ram/tmpAbCdEf").c_str()), 0);
  if (!board.mountTmpfs("/ram", 4096)) GTEST_SKIP() << board.whyUnusable();
  ASSERT_TRUE(board.write("/ram/full", std::string(4096, 'f')));
  ASSERT_TRUE(board.write(kPackageDirectory + "tool-1.0.vpa", packageBytes({"tool", "1.0", {{"bin/tool", "t"}}, {}})));
  before = board.snapshot();

  RunResult safe = board.runWithRoot({"--safe"});

  EXPECT_EQ(safe.status, 1);
  before["/flash/postlog"] = fileEntry("installed tool-1.0\nERROR: could not save /ram/MANIFEST\n");
  EXPECT_EQ(diffSnapshots(before, board.snapshot()), "") << safe.out;
}

// Damaged local files never reach beyond the flash: a files list naming
// paths outside it, and an image mode stream without image part.
TEST(OutsideTheFlash, NothingOutsideTheFlashIsRemovedOrWritten) {
  Board board;
  SKIP_WITHOUT_BOARD(board);
  installByEntry(board, "base", {{"bin/base", "base"}});
  installByEntry(board, "tool", {{"bin/tool", "t"}});
  ASSERT_TRUE(board.write("/rw/sentinel", "keep"));
  ASSERT_TRUE(board.write("/flash/var/pdb/tool/files", "../rw/sentinel\nbin/tool\n/../../installer-data\n"));
  ASSERT_TRUE(board.write("/installer-data", "keep"));
  ASSERT_TRUE(board.writeSchedule("tool", "uninstall"));

  RunResult uninstall = board.runWithRoot({"--cleanup"});

  TreeSnapshot after = board.snapshot();
  EXPECT_EQ(uninstall.status, 0);
  EXPECT_EQ(after["/rw/sentinel"].data, "keep");
  EXPECT_EQ(after["/installer-data"].data, "keep");
  EXPECT_EQ(after.count("/flash/bin/tool"), 0u);
  EXPECT_NE(uninstall.out.find("WARNING: not removing /../rw/sentinel of tool-1.0: it names no file below /flash\n"),
            std::string::npos)
      << uninstall.out;

  RunResult image = board.runWithRoot({"-"}, fromStandardInput(packageBytes({"plain", "1.0", {{"bin/plain", "p"}}, {}})));

  EXPECT_EQ(image.status, 0) << image.out;
  after = board.snapshot();
  EXPECT_EQ(after["/flash/bin/plain"].data, "p");
  EXPECT_EQ(after.count("/image"), 0u);
  EXPECT_EQ(after.count("/flash/var/pdb/image"), 0u);
  EXPECT_EQ(after.count("/flash/var/pdb/plain/image"), 0u);
}

// The bytes of a bundle of the two members, signed, as pkgtool makes it.
std::string bundleBytes() {
  ScratchDir scratch;
  std::vector<std::string> words{"bundle",  "--key",     developmentKeyPath(), "--name", "suite", "--version", "1.0",
                                 "--build-time", "1700000000", "-o", scratch / "suite.vpa"};
  for (const char* member : {"ospf", "bgp"}) {
    EXPECT_TRUE(buildPackageFile({member, "1.0", {{std::string("bin/") + member, member}}, {}}, scratch / member));
    words.push_back(scratch / member);
  }
  std::string messages;
  EXPECT_TRUE(runPackagingTool(words, &messages)) << messages;
  return readFile(scratch / "suite.vpa");
}

void setLengthField(std::string& bytes, uint32_t length) {
  for (int i = 0; i < 4; ++i) bytes[4 + i] = static_cast<char>(length >> (8 * i));
}

// Only signed bytes become packages: a package header appended after the last
// member's signature, or a length field that disagrees with the bytes that
// came, make the stream broken, in an upgrade and in image mode alike.
TEST(UnsignedBytes, NothingAfterTheLastSignatureAndNoLyingLengthIsKept) {
  const std::string bundle = bundleBytes();
  std::string appended = bundle + partHeader(1, 32) + headerPayload("evil", makeVersion(1, 0, 'f', 0)) +
                         partHeader(3, 34) + listPayload({Dependency{"missing"}}) + partHeader(17, 34) +
                         listPayload({Dependency{"system"}});
  setLengthField(appended, static_cast<uint32_t>(appended.size() - 8));
  std::string longer = bundle, shorter = bundle;
  setLengthField(longer, static_cast<uint32_t>(bundle.size() - 8 + 1));
  setLengthField(shorter, static_cast<uint32_t>(bundle.size() - 8 - 1));
  const struct {
    const char* what;
    std::string bytes;
  } cases[] = {{"a package header appended", appended}, {"a length one too long", longer},
               {"a length one too short", shorter}};
  for (const auto& c : cases) {
    for (bool imageMode : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (imageMode ? ", image mode" : ", upgrade"));
      Board board;
      SKIP_WITHOUT_BOARD(board);
      installByEntry(board, "system", {{"bin/system", "s"}});
      if (!imageMode) {
        ASSERT_TRUE(board.write(kPackageDirectory + "suite-1.0.vpa", c.bytes));
      }
      const TreeSnapshot before = board.snapshot();

      RunResult run = imageMode ? board.runWithRoot({"-"}, fromStandardInput(c.bytes)) : board.runWithRoot({});

      TreeSnapshot after = board.snapshot();
      after.erase("/flash/postlog");
      EXPECT_EQ(diffSnapshots(before, after), "") << run.out;
      EXPECT_EQ(run.status, imageMode ? 1 : 0);
    }
  }
}

// Image mode's copy of the stream is recorded before it is made: a run killed
// at one of its first writes (the record's among them) leaves no copy behind
// once the next run has cleaned up.
TEST(KilledRun, ImageModeLeavesNoCopyOfTheStreamBehind) {
  if (std::system("strace -o /dev/null true >/dev/null 2>&1") != 0) GTEST_SKIP() << "strace cannot trace here";
  const std::string package = packageBytes({"plain", "1.0", {{"bin/plain", "p"}}, {}});
  for (int write = 1; write <= 3; ++write) {
    SCOPED_TRACE("killed at write " + std::to_string(write));
    Board board;
    SKIP_WITHOUT_BOARD(board);
    RunInput input = fromStandardInput(package);
    input.tracer = {"strace", "-o", "/dev/null", "-e", "trace=write",
                    "-e", "inject=write:signal=KILL:when=" + std::to_string(write)};
    ASSERT_EQ(board.runWithRoot({"-"}, input).status, 128 + 9);

    EXPECT_EQ(board.runWithRoot({"--show"}).status, 0);

    const TreeSnapshot after = board.snapshot();
    EXPECT_EQ(after.count("/flash/var/pdb/image"), 0u);
    EXPECT_EQ(leftovers(after), std::vector<std::string>{});
  }
}

// A link in place of a file the program writes is not followed: nothing it
// writes lands outside the flash.
TEST(HostileLocalFiles, ALinkInPlaceOfAFileTheProgramWritesIsNotFollowed) {
  for (const char* path : {"/flash/postlog", "/flash/var/pdb/image"}) {
    SCOPED_TRACE(path);
    Board board;
    SKIP_WITHOUT_BOARD(board);
    ASSERT_EQ(::symlink("/rw/target", board.path(path).c_str()), 0);

    board.runWithRoot({"-"}, fromStandardInput(packageBytes({"plain", "1.0", {{"bin/plain", "p"}}, {}})));

    EXPECT_FALSE(pathExists(board.path("/rw/target")));
  }
}

// A named pipe in place of any file the program reads or writes on the board
// counts as a file that cannot be read: no run waits on it.
TEST(HostileLocalFiles, ANamedPipeInPlaceOfAnyFileMakesNoRunWait) {
  const struct {
    const char* path;
    std::vector<std::string> args;
  } cases[] = {
      {"/flash/var/pdb/base/version", {"--show"}},
      {"/flash/var/pdb/base/files", {"--cleanup"}},
      {"/flash/var/pdb/base/disabled", {}},
      {"/flash/var/pdb/base/image", {"--show"}},
      {"/ram/pdb/base/schedule", {}},
      {"/flash/postlog", {}},
      {"/flash/rw/pckg/x.vpa", {}},
      {"/flash/.journal", {"--show"}},
      {"/flash/.staged", {"--show"}},
      {"/flash/var/pdb/image", {"-"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    Board board;
    SKIP_WITHOUT_BOARD(board);
    installByEntry(board, "base", {{"bin/base", "base"}});
    ASSERT_TRUE(board.write(kPackageDirectory + "tool-1.0.vpa", packageBytes({"tool", "1.0", {{"bin/tool", "t"}}, {}})));
    ::unlink(board.path(c.path).c_str());
    ASSERT_TRUE(board.write(std::string(c.path) + ".keep", ""));  // its directory
    ASSERT_EQ(::mkfifo(board.path(c.path).c_str(), 0644), 0);

    RunResult run = board.runWithRoot(c.args, fromStandardInput("not a package"));

    EXPECT_TRUE(run.status < 128 || run.status == 255) << "ended by a signal: " << run.status << " " << run.out;
  }
  // A pipe in place of the manifest.
  Board board;
  SKIP_WITHOUT_BOARD(board);
  ASSERT_EQ(::mkfifo(board.path("/ram/MANIFEST").c_str(), 0644), 0);
  RunResult commit = board.runInside({"--commit"});
  EXPECT_EQ(commit.status, 1);
  EXPECT_EQ(commit.out, "ERROR: damaged manifest /ram/MANIFEST: nothing was changed\n");
}

}  // namespace
