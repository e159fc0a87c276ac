#include "staging/transaction.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include <gtest/gtest.h>

#include "platform/file_sink.h"
#include "platform/path_utils.h"
#include "support/scratch_dir.h"
#include "support/tmpfs_mount.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

// A scratch board: "flash" for destinations, "ram" as the fallback staging
// directory.
class TransactionTest : public testing::Test {
 protected:
  TransactionTest() : ram_(scratch_ / "ram"), transaction_(BoardPaths(scratch_.path())) {
    ::mkdir(ram_.c_str(), 0755);
    ::mkdir((scratch_ / "flash").c_str(), 0755);
  }

  std::string flash(const std::string& relative) const { return scratch_ / ("flash/" + relative); }

  // Stages content through create() and closes the file.
  std::string stageContent(const std::string& destination, const std::string& content, uint32_t hint = 0,
                           uint32_t mode = 0) {
    FileSink out(transaction_.create(destination, hint, mode));
    out.sputn(content.data(), static_cast<std::streamsize>(content.size()));
    EXPECT_TRUE(out.close()) << destination;
    const StagedOp* op = transaction_.find(destination);
    return op ? op->source : std::string();
  }

  std::vector<std::string> stagedPaths() const {
    std::vector<std::string> paths;
    for (const auto& entry : transaction_) paths.push_back(entry.first);
    return paths;
  }

  ScratchDir scratch_;
  std::string ram_;
  Transaction transaction_;
};

// Every path below `root`, relative to it, in order.
std::vector<std::string> listTree(const std::string& root, const std::string& prefix = std::string()) {
  std::vector<std::string> paths;
  DIR* dir = ::opendir((root + "/" + prefix).c_str());
  if (!dir) return paths;
  while (struct dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    paths.push_back(prefix + name);
    if (entry->d_type == DT_DIR) {
      const std::vector<std::string> below = listTree(root, prefix + name + "/");
      paths.insert(paths.end(), below.begin(), below.end());
    }
  }
  ::closedir(dir);
  std::sort(paths.begin(), paths.end());
  return paths;
}

mode_t permissions(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

std::string linkText(const std::string& path) {
  char buffer[256];
  ssize_t length = ::readlink(path.c_str(), buffer, sizeof buffer);
  return length < 0 ? std::string() : std::string(buffer, static_cast<size_t>(length));
}

TEST_F(TransactionTest, ReplacingACreateDeletesItsTemporaryFile) {
  std::string first = stageContent(flash("f"), "first");
  std::string second = stageContent(flash("f"), "second");
  EXPECT_NE(first, second);
  EXPECT_FALSE(pathExists(first));
  transaction_.commit(false);
  EXPECT_EQ(readFile(flash("f")), "second");
  EXPECT_FALSE(pathExists(second));
}

TEST_F(TransactionTest, StagingOtherOperationsOverACreateDeletesItsTemporaryFile) {
  ASSERT_TRUE(writeFile(flash("existing"), "x"));
  std::string forMove = stageContent(flash("a"), "a");
  std::string forLink = stageContent(flash("b"), "b");
  std::string forRemove = stageContent(flash("existing"), "c");
  transaction_.move(flash("elsewhere"), flash("a"));
  transaction_.link("target", flash("b"));
  transaction_.remove(flash("existing"));
  EXPECT_FALSE(pathExists(forMove));
  EXPECT_FALSE(pathExists(forLink));
  EXPECT_FALSE(pathExists(forRemove));
  EXPECT_EQ(transaction_.find(flash("existing"))->kind, OpKind::Remove);
}

TEST_F(TransactionTest, StagingDirectoryIsTheFirstExistingAncestorWithRoom) {
  struct Case {
    const char* what;
    std::string destination;
    uint32_t hint;
    std::string stagingDir;
  } cases[] = {
      {"size hint 0 always stages in the fallback", flash("x"), 0, ram_},
      {"the parent decides", flash("x"), 10, scratch_ / "flash"},
      {"missing directories are skipped upwards", flash("new/deeper/x"), 10, scratch_ / "flash"},
  };
  for (const Case& c : cases) {
    std::string temporary = stageContent(c.destination, "content", c.hint);
    EXPECT_EQ(parentDir(temporary), c.stagingDir) << c.what;
    EXPECT_EQ(baseName(temporary).substr(0, 3), "tmp") << c.what;
    EXPECT_EQ(readFile(temporary), "content") << c.what;
  }
}

TEST_F(TransactionTest, AStagingPathLongerThan127CharactersFallsBack) {
  // dir + "/tmpXXXXXX" is exactly 127 characters, then 128.
  std::string fits = scratch_.path() + "/";
  fits += std::string(117 - fits.size(), 'd');
  std::string tooLong = fits + "e";
  ASSERT_EQ(fits.size() + 10, 127u);
  ::mkdir(fits.c_str(), 0755);
  ::mkdir(tooLong.c_str(), 0755);
  EXPECT_EQ(parentDir(stageContent(fits + "/x", "a", 10)), fits);
  EXPECT_EQ(parentDir(stageContent(tooLong + "/x", "b", 10)), ram_);
}

TEST_F(TransactionTest, CreateGivesTheTemporaryFileItsMode) {
  EXPECT_EQ(permissions(stageContent(flash("exec"), "#!", 0, 0755)), 0755u);
  EXPECT_EQ(permissions(stageContent(flash("plain"), "x", 0, 0)), 0600u) << "mkstemp's own mode";
}

TEST_F(TransactionTest, CreateWithoutATemporaryFileStagesNothingAndFails) {
  Transaction transaction{BoardPaths(scratch_ / "no-such-root")};
  errno = 0;
  EXPECT_EQ(transaction.create(flash("x"), 0, 0644), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_TRUE(transaction.isEmpty());
}

TEST(StagingRoom, ContentPlusATenthMustStayBelowTheFreeBytes) {
  struct Case {
    uint32_t hint, blockSize, freeBlocks;
    bool room;
  } cases[] = {
      {1000, 1024, 1, false},               // 1000 + 100 is not below 1024
      {930, 1024, 1, true},                 // 930 + 93 = 1023
      {931, 1024, 1, false},                // 931 + 93 = 1024
      {1, 4096, 0, false},                  // a full file system
      {1, 4096, 1u << 20, false},           // 4 GiB free wraps to 0
      {1, 4096, (1u << 20) + 1, true},      // ... and 4 GiB + 4 KiB to 4 KiB
      {5000, 4096, (1u << 20) + 1, false},  // which is then too small
  };
  for (const Case& c : cases) {
    EXPECT_EQ(roomForStaging(c.hint, c.blockSize, c.freeBlocks), c.room)
        << c.hint << " bytes, " << c.freeBlocks << " blocks of " << c.blockSize;
  }
}

TEST_F(TransactionTest, StagingDirectoryChoiceAtTheFreeSpaceBoundaryOfARealFileSystem) {
  TmpfsMount fs(scratch_ / "flash/fs", 64 * 1024);
  if (!fs.mounted()) GTEST_SKIP() << fs.error();
  struct statfs info;
  ASSERT_EQ(::statfs((scratch_ / "flash/fs").c_str(), &info), 0);
  uint32_t freeBytes = static_cast<uint32_t>(info.f_bsize) * static_cast<uint32_t>(info.f_bfree);
  // The largest hint whose content plus a tenth stays below the free bytes.
  uint32_t largest = freeBytes * 10 / 11 + 10;
  while (largest + largest / 10 >= freeBytes) --largest;
  EXPECT_EQ(parentDir(stageContent(flash("fs/a"), "", largest)), scratch_ / "flash/fs");
  EXPECT_EQ(parentDir(stageContent(flash("fs/b"), "", largest + 1)), ram_);
}

TEST_F(TransactionTest, RemoveStagesOnlyWhatExistsAndDropsWhatDoesNot) {
  ASSERT_TRUE(writeFile(flash("file"), "x"));
  ASSERT_EQ(::mkdir(flash("dir").c_str(), 0755), 0);
  ASSERT_EQ(::symlink("nowhere", flash("dangling").c_str()), 0);
  transaction_.remove(flash("file"));
  transaction_.remove(flash("dir"));
  transaction_.remove(flash("absent"));
  transaction_.remove(flash("dangling"));
  std::string temporary = stageContent(flash("new"), "content");
  transaction_.remove(flash("new"));

  EXPECT_EQ(stagedPaths(), (std::vector<std::string>{flash("dir"), flash("file")}));
  EXPECT_EQ(transaction_.find(flash("dir"))->kind, OpKind::Remove);
  EXPECT_EQ(transaction_.find(flash("file"))->source, "");
  EXPECT_FALSE(pathExists(temporary)) << "dropping a creation deletes its temporary file";
}

TEST_F(TransactionTest, KeepDropsOnlyAStagedRemovalAndTellsWhetherThePathIsFree) {
  ASSERT_TRUE(writeFile(flash("file"), "x"));
  ASSERT_EQ(::mkdir(flash("dir").c_str(), 0755), 0);
  ASSERT_EQ(::symlink("nowhere", flash("dangling").c_str()), 0);
  transaction_.remove(flash("dir"));
  transaction_.remove(flash("file"));
  std::string temporary = stageContent(flash("created"), "x");
  transaction_.link("target", flash("linked"));

  EXPECT_TRUE(transaction_.keep(flash("dir")));
  EXPECT_EQ(transaction_.find(flash("dir")), nullptr);
  EXPECT_FALSE(transaction_.keep(flash("file"))) << "a file is in the way";
  EXPECT_EQ(transaction_.find(flash("file")), nullptr) << "its removal is dropped all the same";
  EXPECT_TRUE(transaction_.keep(flash("absent")));
  EXPECT_TRUE(transaction_.keep(flash("dangling"))) << "stat follows the link";
  EXPECT_FALSE(transaction_.keep(flash("created")));
  EXPECT_FALSE(transaction_.keep(flash("linked")));
  EXPECT_TRUE(pathExists(temporary));
  EXPECT_EQ(stagedPaths(), (std::vector<std::string>{flash("created"), flash("linked")}));
}

TEST_F(TransactionTest, IteratesInPlainByteOrder) {
  for (const char* path : {"/ab", "/a\xff", "/a/b", "/a-", "/a"}) transaction_.link("x", path);
  EXPECT_EQ(stagedPaths(), (std::vector<std::string>{"/a", "/a-", "/a/b", "/ab", "/a\xff"}));
}

TEST_F(TransactionTest, CommitAppliesEveryKindAndKeepsTheOperationsStaged) {
  ASSERT_TRUE(writeFile(flash("old"), "old"));
  ASSERT_TRUE(writeFile(flash("replaced-by-link"), "x"));
  ASSERT_TRUE(writeFile(scratch_ / "package.vpa", "package"));
  std::string temporary = stageContent(flash("new/dir/created"), "created", 10, 0700);
  transaction_.move(scratch_ / "package.vpa", flash("var/pdb/p/image"));
  transaction_.link("/flash/bootimage", flash("replaced-by-link"));
  transaction_.link("target", flash("links/deep/l"));
  transaction_.remove(flash("old"));
  transaction_.commit(false);

  EXPECT_EQ(readFile(flash("new/dir/created")), "created");
  EXPECT_EQ(permissions(flash("new/dir/created")), 0700u);
  EXPECT_FALSE(pathExists(temporary));
  EXPECT_EQ(readFile(flash("var/pdb/p/image")), "package");
  EXPECT_FALSE(pathExists(scratch_ / "package.vpa"));
  EXPECT_EQ(linkText(flash("replaced-by-link")), "/flash/bootimage");
  EXPECT_EQ(linkText(flash("links/deep/l")), "target");
  EXPECT_FALSE(pathExists(flash("old")));
  EXPECT_FALSE(transaction_.isEmpty());
  EXPECT_EQ(stagedPaths().size(), 5u);
}

TEST_F(TransactionTest, RemovingADirectoryDeletesItsPlainFilesAndItselfUnlessSomethingHolds) {
  struct Case {
    const char* what;
    std::vector<std::string> entries;  // a trailing "/" makes a directory
    std::vector<std::string> survivors;
    bool directoryStays;
  } cases[] = {
      {"plain files only", {"a", "b"}, {}, false},
      {"a dot-file keeps the directory", {"a", ".keep"}, {".keep"}, true},
      {"a subdirectory is not descended into", {"a", "sub/", "sub/inner"}, {"sub/inner"}, true},
      {"an empty directory", {}, {}, false},
  };
  for (const Case& c : cases) {
    std::string dir = flash(std::string("d-") + c.what);
    ASSERT_EQ(::mkdir(dir.c_str(), 0755), 0);
    for (const std::string& entry : c.entries) {
      if (entry.back() == '/') ASSERT_EQ(::mkdir((dir + "/" + entry).c_str(), 0755), 0);
      else ASSERT_TRUE(writeFile(dir + "/" + entry, entry));
    }
    Transaction transaction{BoardPaths(scratch_.path())};
    transaction.remove(dir);
    transaction.commit(false);
    EXPECT_EQ(pathExists(dir), c.directoryStays) << c.what;
    for (const std::string& entry : c.entries) {
      bool survives = entry.back() == '/' || std::find(c.survivors.begin(), c.survivors.end(), entry) != c.survivors.end();
      EXPECT_EQ(pathExists(dir + "/" + entry), survives) << c.what << ": " << entry;
    }
  }
}

// What a commit cannot place on its destination's file system stops it
// before anything changes: the board, the staged files and the operations are
// as they were, and no copy is left.
TEST_F(TransactionTest, ACommitThatCannotPlaceEveryFileChangesNothing) {
  TmpfsMount small(scratch_ / "flash/small", 32 * 1024);
  if (!small.mounted()) GTEST_SKIP() << small.error();
  struct Case {
    const char* what;
    void (*stage)(Transaction&, const std::string& flash);
    int error;
    const char* path;
  };
  const Case cases[] = {
      {"a missing source", [](Transaction& t, const std::string& f) { t.move(f + "missing", f + "b"); }, ENOENT,
       "missing"},
      {"a source the commit removes",
       [](Transaction& t, const std::string& f) {
         t.move(f + "old", f + "a");
         t.remove(f + "old");
       },
       EINVAL, "old"},
      {"a source the commit links over",
       [](Transaction& t, const std::string& f) {
         t.link("target", f + "old");
         t.move(f + "old", f + "a");
       },
       EINVAL, "old"},
      {"a copy that does not fit",
       [](Transaction& t, const std::string& f) { t.move(f + "big", f + "small/dst"); }, ENOSPC, "small/dst"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(writeFile(flash("old"), "old"));
    ASSERT_TRUE(writeFile(flash("big"), std::string(128 * 1024, 'b')));
    ASSERT_TRUE(writeFile(flash("small/dst"), "small"));
    Transaction transaction{BoardPaths(scratch_.path())};
    FileSink(transaction.create(flash("new/created"), 10, 0)).sputn("created", 7);
    transaction.remove(flash("small/dst"));
    c.stage(transaction, flash(""));
    const size_t staged = std::distance(transaction.begin(), transaction.end());
    const std::vector<std::string> before = listTree(scratch_.path());

    CommitFailure failure;
    EXPECT_FALSE(transaction.commit(false, &failure));

    EXPECT_EQ(failure.error, c.error);
    EXPECT_EQ(failure.path, flash(c.path));
    EXPECT_EQ(listTree(scratch_.path()), before);
    EXPECT_EQ(readFile(flash("small/dst")), "small");
    EXPECT_EQ(std::distance(transaction.begin(), transaction.end()), static_cast<long>(staged));
    transaction.cancel();
  }
}

TEST_F(TransactionTest, AFailingLinkIsReportedAndTheRestIsStillApplied) {
  ASSERT_TRUE(writeFile(flash("plain"), "x"));
  ASSERT_TRUE(writeFile(flash("src"), "moved"));
  transaction_.link("target", flash("plain/link"));  // below a file
  transaction_.move(flash("src"), flash("c"));
  transaction_.link("target", flash("d"));
  CaptureStderr();
  EXPECT_TRUE(transaction_.commit(false));
  EXPECT_EQ(GetCapturedStderr(), "symlink: Not a directory\n");
  EXPECT_EQ(readFile(flash("c")), "moved");
  EXPECT_EQ(linkText(flash("d")), "target");
}

// Across file systems the content is copied beside its destination first; a
// moved file stays where it was, a staged file in the fallback goes.
TEST_F(TransactionTest, FilesAcrossFileSystemsAreCopiedAndOnlyStagedOnesDeleted) {
  TmpfsMount other(scratch_ / "flash/other", 1024 * 1024);
  if (!other.mounted()) GTEST_SKIP() << other.error();
  std::string content(40000, 'q');
  ASSERT_TRUE(writeFile(flash("src"), content));
  ASSERT_EQ(::chmod(flash("src").c_str(), 0640), 0);
  transaction_.move(flash("src"), flash("other/sub/dst"));
  const std::string staged = stageContent(flash("other/created"), "created", 0, 0750);
  ASSERT_EQ(parentDir(staged), ram_);
  CaptureStderr();
  EXPECT_TRUE(transaction_.commit(false));
  EXPECT_EQ(GetCapturedStderr(), "");
  EXPECT_EQ(readFile(flash("other/sub/dst")), content);
  EXPECT_EQ(permissions(flash("other/sub/dst")), 0640u);
  EXPECT_EQ(readFile(flash("src")), content);
  EXPECT_EQ(readFile(flash("other/created")), "created");
  EXPECT_EQ(permissions(flash("other/created")), 0750u);
  EXPECT_FALSE(pathExists(staged));
  EXPECT_EQ(listTree(scratch_ / "flash/other"),
            (std::vector<std::string>{"created", "sub", "sub/dst"}));
}

TEST_F(TransactionTest, CancelDeletesOnlyTheTemporaryFilesOfCreations) {
  ASSERT_TRUE(writeFile(flash("package.vpa"), "p"));
  std::string temporary = stageContent(flash("new"), "n", 10);
  transaction_.move(flash("package.vpa"), flash("var/pdb/p/image"));
  transaction_.cancel();
  EXPECT_TRUE(transaction_.isEmpty());
  EXPECT_FALSE(pathExists(temporary));
  EXPECT_EQ(readFile(flash("package.vpa")), "p");
  EXPECT_FALSE(pathExists(flash("new")));
}

TEST_F(TransactionTest, CancelSavedDeletesTheTemporaryFilesCreateMadeAndNoOther) {
  struct Case {
    const char* what;
    std::string source;
    std::string destination;
    bool deleted;
  } cases[] = {
      {"staged on the destination's file system", flash("tmpAb3dE9"), flash("var/pdb/p/version"), true},
      {"staged in the fallback directory", ram_ + "/tmpZZZZZZ", flash("a"), true},
      {"a package file", flash("rw/pckg/p.vpa"), flash("var/pdb/p/image"), false},
      {"tmp-like name outside the destination's ancestors", scratch_ / "elsewhere/tmpQQQQQQ", flash("b"), false},
      {"not the form mkstemp makes", flash("tmpAB"), flash("c"), false},
      {"not the form mkstemp makes either", flash("tmp-x.y_z"), flash("d"), false},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(writeFile(c.source, "s"));
    transaction_.move(c.source, c.destination);
  }
  transaction_.cancelSaved();
  EXPECT_TRUE(transaction_.isEmpty());
  for (const Case& c : cases) EXPECT_EQ(pathExists(c.source), !c.deleted) << c.what;
}

}  // namespace

// A dry run stages where a real run would, counting the room its staged
// files would have taken, and changes nothing on the board.
TEST_F(TransactionTest, ADryRunChoosesTheStagingDirectoriesOfARealRunAndTouchesNothing) {
  TmpfsMount fs(scratch_ / "flash/fs", 64 * 1024);
  if (!fs.mounted()) GTEST_SKIP() << fs.error();
  ScratchDir elsewhere;
  Transaction dry = Transaction::dryRun(BoardPaths(scratch_.path()), elsewhere.path());
  ASSERT_TRUE(dry.isDryRun());
  EXPECT_FALSE(transaction_.isDryRun());
  const std::vector<std::string> boardBefore = listTree(scratch_.path());
  const std::vector<uint32_t> sizes = {20000, 20000, 20000, 20000, 1000};
  std::vector<std::string> realDirectories;
  for (size_t i = 0; i < sizes.size(); ++i)
    realDirectories.push_back(
        parentDir(stageContent(flash("fs/f" + std::to_string(i)), std::string(sizes[i], 'x'), sizes[i])));
  ASSERT_NE(realDirectories[0], realDirectories[3]) << "the staged files do not fill the file system";
  transaction_.cancel();
  for (size_t i = 0; i < sizes.size(); ++i) {
    const std::string destination = flash("fs/f" + std::to_string(i));
    FileSink out(dry.create(destination, sizes[i], 0));
    out.sputn(std::string(sizes[i], 'x').data(), sizes[i]);
    out.close();
    const StagedOp* op = dry.find(destination);
    ASSERT_NE(op, nullptr);
    EXPECT_EQ(dry.stagedIn(destination), realDirectories[i]) << "file " << i;
    EXPECT_EQ(parentDir(op->source), elsewhere.path());
  }
  EXPECT_EQ(listTree(scratch_.path()), boardBefore);

  CommitFailure failure;
  EXPECT_FALSE(dry.commit(false, &failure));
  EXPECT_EQ(failure.error, EROFS);
  EXPECT_FALSE(dry.save(scratch_ / "ram/MANIFEST"));
  EXPECT_EQ(listTree(scratch_.path()), boardBefore);
  dry.cancel();
  EXPECT_TRUE(listTree(elsewhere.path()).empty());
}
