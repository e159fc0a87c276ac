#include "staging/commit_journal.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "staging/staged_files.h"
#include "staging/transaction.h"
#include "support/scratch_dir.h"

namespace {

// A board where a commit stopped: the old files, the placed new ones, and the
// journal that says what the commit was doing. "@" stands for the root.
class InterruptedCommit : public testing::Test {
 protected:
  InterruptedCommit() { prepare(); }
  void prepare() {
    for (const char* made : {"/flash/dir/new", "/flash/renamed", "/flash/link"}) ::unlink(at(made).c_str());
    writeFile(at("/flash/old"), "old");
    writeFile(at("/flash/dir/plain"), "plain");
    writeFile(at("/flash/.tmpPlaced"), "placed");
    writeFile(at("/ram/tmpStaged"), "placed");
    writeFile(at("/flash/tmpRenamed"), "renamed");
  }
  std::string at(const std::string& path) const { return scratch.path() + path; }
  void journal(std::string text) {
    for (size_t at; (at = text.find('@')) != std::string::npos;) text.replace(at, 1, scratch.path());
    ASSERT_TRUE(writeFile(at("/flash/.journal"), text));
  }
  ScratchDir scratch;
};

const char kJournal[] =
    "U @/flash/old\n"
    "U @/flash/dir\n"
    "L @/flash/link /flash/bootimage\n"
    "M @/flash/dir/new @/flash/.tmpPlaced\n"
    "M @/flash/renamed @/flash/tmpRenamed\n"
    "D @/ram/tmpStaged\n";

// Wherever the commit stopped, completing the journal gives the new state:
// deletions and links are repeated only until renaming has begun, and a
// rename already done is not done again.
TEST_F(InterruptedCommit, CompletingTheJournalGivesTheNewStateWhereverItStopped) {
  const struct {
    const char* what;
    std::string marker;
    bool firstRenameDone;
  } cases[] = {
      {"before any change", "", false},
      {"renaming begun", "R\n", false},
      {"one rename done", "R\n", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    prepare();
    if (!c.marker.empty()) {  // deletions and links are done when renaming begins
      ASSERT_EQ(::unlink(at("/flash/old").c_str()), 0);
      ASSERT_EQ(::unlink(at("/flash/dir/plain").c_str()), 0);
      ASSERT_EQ(::symlink("/flash/bootimage", at("/flash/link").c_str()), 0);
    }
    if (c.firstRenameDone) {
      ASSERT_EQ(::rename(at("/flash/.tmpPlaced").c_str(), at("/flash/dir/new").c_str()), 0);
    }
    journal(kJournal + c.marker);

    completeJournal(BoardPaths(scratch.path()));

    EXPECT_FALSE(pathExists(at("/flash/old")));
    EXPECT_FALSE(pathExists(at("/flash/dir/plain")));
    EXPECT_EQ(readFile(at("/flash/dir/new")), "placed");
    EXPECT_EQ(readFile(at("/flash/renamed")), "renamed");
    EXPECT_FALSE(pathExists(at("/flash/.tmpPlaced")));
    EXPECT_FALSE(pathExists(at("/ram/tmpStaged")));
    EXPECT_FALSE(pathExists(at("/flash/.journal")));
    char link[64] = {};
    EXPECT_GT(::readlink(at("/flash/link").c_str(), link, sizeof link - 1), 0);
    EXPECT_STREQ(link, "/flash/bootimage");
  }
}

// A journal that is not whole and well-formed, or that reaches beyond flash
// and RAM disk, is not carried out: the board stays as it is.
TEST_F(InterruptedCommit, ADamagedJournalIsDroppedAndChangesNothing) {
  const char* journals[] = {
      "U @/flash/old\nM @/flash/dir/new @/flash/.tmpPla",  // cut inside a line
      "U @/flash/old\nX @/flash/dir\n",
      "U @/flash/old\nU @/rw/settings\n",
      "U @/flash/old\nM @/flash/new @/etc/passwd\n",
      "U @/flash/old\nD @/flash/../rw/settings\n",
      "U @/flash/old\nU\n",
  };
  writeFile(at("/rw/settings"), "settings");
  for (const char* text : journals) {
    SCOPED_TRACE(text);
    journal(text);
    completeJournal(BoardPaths(scratch.path()));
    EXPECT_EQ(readFile(at("/flash/old")), "old");
    EXPECT_EQ(readFile(at("/rw/settings")), "settings");
    EXPECT_EQ(readFile(at("/flash/.tmpPlaced")), "placed");
    EXPECT_FALSE(pathExists(at("/flash/.journal")));
  }
}

// What an interrupted run staged goes at the next run, except what a saved
// manifest names, and nothing the record names outside flash and RAM disk.
TEST_F(InterruptedCommit, TheNextRunDeletesWhatAnInterruptedRunStagedButNotWhatAManifestNames) {
  const BoardPaths root(scratch.path());
  writeFile(at("/rw/tmpOutsde"), "not staged here");
  for (const char* path : {"/flash/.tmpPlaced", "/ram/tmpStaged", "/flash/tmpRenamed", "/rw/tmpOutsde"})
    ASSERT_TRUE(recordStagedFile(root, at(path)));
  ASSERT_TRUE(writeFile(at("/ram/MANIFEST"), "M " + at("/flash/renamed") + " " + at("/flash/tmpRenamed") + "\n"));

  recoverInterruptedRun(root);

  EXPECT_FALSE(pathExists(at("/flash/.tmpPlaced")));
  EXPECT_FALSE(pathExists(at("/ram/tmpStaged")));
  EXPECT_TRUE(pathExists(at("/flash/tmpRenamed")));
  EXPECT_TRUE(pathExists(at("/rw/tmpOutsde")));
  EXPECT_FALSE(pathExists(at("/flash/.staged")));
  EXPECT_EQ(readFile(at("/flash/old")), "old");
}

}  // namespace
