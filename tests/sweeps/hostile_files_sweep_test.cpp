// Hostile local files: every file the program reads on the board replaced in
// turn by garbage, a directory, a named pipe, a symbolic link to a missing
// file and a huge file, in every mode that reads it. No run waits (the
// harness's alarm would end it), none is ended by a signal, each ends with a
// status its mode documents, and nothing outside /flash and /ram changes.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/scratch_dir.h"
#include "sweeps/sweep.h"

namespace {

enum class Kind { Garbage, Directory, Pipe, DanglingLink, Huge };
enum class Mode { Upgrade, Show, Cleanup, ImageMode, Commit, Cancel };

const char* const kKindNames[] = {"garbage", "directory", "named pipe", "dangling link", "huge file"};
const char* const kModeNames[] = {"upgrade", "--show", "--cleanup", "image mode", "--commit", "--cancel"};
constexpr size_t kHugeBytes = 64 << 20;
// Where a dangling link points: outside /flash, so that a write through it
// would show.
const char kLinkTarget[] = "/rw/hostile-target";

// The statuses a mode ends with, whatever it found (see the README): an
// upgrade or cleanup whose commit cannot begin ends with 1 (28 for want of
// room) and changes nothing.
bool documentedStatus(Mode mode, int status) {
  switch (mode) {
    case Mode::Show:
      return status == 0;
    case Mode::ImageMode:
      return status == 0 || status == 1 || status == 2 || status == 3 || status == 28 || status == 255;
    case Mode::Cancel:
      return status == 0 || status == 1;
    default:
      return status == 0 || status == 1 || status == 28;
  }
}

// Bytes with newlines, blanks, NULs and high bytes: a line reader's worst.
std::string garbage() {
  std::string bytes = incompressibleBytes(4096);
  for (size_t i = 0; i < bytes.size(); i += 37) bytes[i] = (i % 3 == 0) ? '\n' : (i % 3 == 1) ? ' ' : '\0';
  return bytes;
}

bool makeHostile(const Board& board, const std::string& path, Kind kind) {
  const std::string at = board.path(path);
  ::unlink(at.c_str());
  if (!writeFile(at + ".parent", "") || ::unlink((at + ".parent").c_str()) != 0) return false;
  switch (kind) {
    case Kind::Garbage:
      return writeFile(at, garbage());
    case Kind::Directory:
      return ::mkdir(at.c_str(), 0755) == 0;
    case Kind::Pipe:
      return ::mkfifo(at.c_str(), 0644) == 0;
    case Kind::DanglingLink:
      return ::symlink(kLinkTarget, at.c_str()) == 0;
    case Kind::Huge: {
      // Garbage first and last, a hole between.
      const int fd = ::open(at.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const std::string bytes = garbage();
      const bool made = fd >= 0 && ::write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size()) &&
                        ::pwrite(fd, bytes.data(), bytes.size(), kHugeBytes - bytes.size()) == ssize_t(bytes.size());
      if (fd >= 0) ::close(fd);
      return made;
    }
  }
  return false;
}

struct HostileFile {
  const char* path;
  std::vector<Mode> modes;
};

const std::vector<Mode> kDatabaseReaders = {Mode::Upgrade, Mode::Show, Mode::Cleanup, Mode::ImageMode};
const std::vector<Mode> kEveryRun = {Mode::Upgrade, Mode::Show, Mode::Commit};

const HostileFile kHostileFiles[] = {
    {"/flash/var/pdb/base/version", kDatabaseReaders},
    {"/flash/var/pdb/base/deps", kDatabaseReaders},
    {"/flash/var/pdb/base/provides", kDatabaseReaders},
    {"/flash/var/pdb/base/conflicts", kDatabaseReaders},
    {"/flash/var/pdb/base/bundle", kDatabaseReaders},
    {"/flash/var/pdb/base/files", kDatabaseReaders},
    {"/flash/var/pdb/base/disabled", kDatabaseReaders},
    {"/flash/var/pdb/base/enabled", kDatabaseReaders},
    {"/flash/var/pdb/base/image", kDatabaseReaders},
    {"/rw/pckg/.images/system", {Mode::Upgrade, Mode::Show, Mode::Cleanup}},
    {"/ram/pdb/base/schedule", {Mode::Upgrade, Mode::ImageMode}},
    {"/flash/postlog", {Mode::Upgrade, Mode::ImageMode}},
    {"/ram/MANIFEST", {Mode::Commit, Mode::Cancel, Mode::Show}},
    {"/flash/.journal", kEveryRun},
    {"/flash/.staged", kEveryRun},
    {"/flash/rw/pckg/tool-1.0.vpa", {Mode::Upgrade}},
    {"/flash/bootimage", {Mode::Upgrade, Mode::Show, Mode::Cleanup}},
    {"/flash/var/pdb/image", {Mode::ImageMode}},
};

class HostileFilesSweep : public testing::Test {
 protected:
  // A board with a package installed with its stored image, one that carries
  // the boot image, one whose image is kept in /rw/pckg/.images, and one
  // waiting.
  void SetUp() override {
    Board board;
    SKIP_WITHOUT_BOARD(board);
    ASSERT_TRUE(installByEntry(board, "system", "6.41", {{"bin/system", "system"}}));
    const std::string base = packageBytes({"base", "1.0", {{"bin/base", "base"}, {"etc/base.conf", "on\n"}},
                                           {"--depends", "system", "--provides", "shell:1.0:2.0:5", "--image"}});
    const std::string kernel = packageBytes({"kernel", "1.0", {{"boot/kernel", "kernel"}}, {"--boot-image"}});
    for (const std::string& package : {base, kernel}) {
      RunResult run = board.runWithRoot({"-"}, standardInput(package));
      ASSERT_EQ(run.status, 0) << run.out;
    }
    // Read for an entry that has no stored image of its own.
    ASSERT_TRUE(board.write("/rw/pckg/.images/system",
                            packageBytes({"system", "6.41", {{"bin/system", "system"}}, {"--description", "base system"}})));
    tool_ = packageBytes({"tool", "1.0", {{"bin/tool", "tool"}}, {"--depends", "system"}});
    ASSERT_TRUE(board.write("/flash/rw/pckg/tool-1.0.vpa", tool_));
    installed_ = board.snapshot();
  }

  RunResult run(Board& board, Mode mode) {
    switch (mode) {
      case Mode::Upgrade: return board.runWithRoot({});
      case Mode::Show: return board.runWithRoot({"--show"});
      case Mode::Cleanup: return board.runWithRoot({"--cleanup"});
      case Mode::ImageMode: return board.runWithRoot({"-"}, standardInput(tool_));
      case Mode::Commit: return board.runInside({"--commit"});
      case Mode::Cancel: return board.runInside({"--cancel"});
    }
    return RunResult();
  }

  std::string tool_;
  TreeSnapshot installed_;
};

// The board without the hostile file and what lies below it; only what lies
// outside /flash and /ram when `outsideOnly`.
TreeSnapshot without(const Board& board, const std::string& hostile, bool outsideOnly) {
  TreeSnapshot tree = outsideOnly ? snapshotTree(board.root(), {"flash", "ram", "installer", "lib", "lib64", "usr", "proc"})
                                  : withoutPostlog(board.snapshot());
  for (auto at = tree.begin(); at != tree.end();)
    at = at->first.rfind(hostile, 0) == 0 ? tree.erase(at) : std::next(at);
  return tree;
}

std::string firstLine(const std::string& text) {
  std::string line = text.substr(0, text.find('\n'));
  const size_t cut = line.rfind('\r');  // the progress bar redraws its line
  return cut == std::string::npos ? line : line.substr(cut + 1);
}

TEST_F(HostileFilesSweep, NoRunWaitsCrashesOrReachesBeyondTheFlash) {
  SweepTally tally("hostile local files");
  for (const HostileFile& file : kHostileFiles) {
    for (int kind = 0; kind <= int(Kind::Huge); ++kind) {
      for (Mode mode : file.modes) {
        SCOPED_TRACE(std::string(file.path) + ", " + kKindNames[kind] + ", " + kModeNames[int(mode)]);
        Board board;
        ASSERT_TRUE(restoreSnapshot(board, installed_));
        ASSERT_TRUE(makeHostile(board, file.path, Kind(kind)));
        const TreeSnapshot before = without(board, file.path, false);
        const TreeSnapshot outside = without(board, file.path, true);

        const RunResult result = run(board, mode);

        const bool documented = documentedStatus(mode, result.status);
        const bool contained = without(board, file.path, true) == outside;
        EXPECT_TRUE(documented) << "status " << result.status << "\n" << result.out;
        EXPECT_TRUE(contained) << diffSnapshots(outside, without(board, file.path, true));
        // Old: the run changed nothing (but its log); new: it did its work.
        tally.count(!documented || !contained ? "other" : without(board, file.path, false) == before ? "old" : "new");
        std::printf("HOSTILE %s | %s | %s | %d | %s\n", file.path, kKindNames[kind], kModeNames[int(mode)],
                    result.status, firstLine(result.out.empty() ? result.err : result.out).c_str());
      }
    }
  }
  tally.print();
}

}  // namespace
