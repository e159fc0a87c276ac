// The transaction, its manifest and its journal, on scratch boards.
#include "staging/transaction.h"

#include <cstring>
#include <tuple>

#include <gtest/gtest.h>

#include "platform/faulty_file_system.h"
#include "platform/file_sink.h"
#include "staging/staged_files.h"
#include "support/scratch_dir.h"
#include "support/tmpfs_mount.h"

namespace {

PosixFileSystem posixFs;

// A scratch board with "/flash" and "/ram", the fallback staging directory.
class TransactionTest : public testing::Test {
 protected:
  TransactionTest() {
    ::umask(022);
    for (const char* dir : {"/ram", "/flash"}) std::filesystem::create_directories(at(dir));
  }
  std::string at(const std::string& path) const { return root_ + path; }
  // Stages new content; the board path of the directory it is staged in.
  std::string create(const std::string& path, uint32_t hint, uint32_t mode = 0, const std::string& content = "") {
    FileSink(posixFs, transaction_.create(at(path), hint, mode)).write(content.data(), content.size());
    return std::filesystem::path(transaction_.find(at(path))->source).parent_path().string().substr(root_.size());
  }
  // Stages manifest lines that name board paths, as a saved transaction is.
  bool load(Transaction& transaction, const std::string& lines) {
    writeFile(at("/lines"), rooted(lines, root_));
    return transaction.load(at("/lines")) && std::filesystem::remove(at("/lines"));
  }
  // The staged operations as unescaped manifest lines that name board paths; a creation is a move.
  std::string staged(const Transaction& transaction) const {
    std::string lines;
    for (const auto& [path, op] : transaction) lines += "MM LU"[int(op.kind)] + (" " + path + " " + op.source) + "|";
    return replaceAll(replaceAll(lines, root_, ""), " |", "|");
  }
  ScratchDir scratch_;
  const std::string root_ = scratch_.path();
  Transaction transaction_{BoardPaths(posixFs, root_)};
};

// New content lies beside its destination where that file system has room for it and a tenth (in 32
// bits, as the board computes) and the staged path stays within 127 characters; else on the RAM disk.
TEST_F(TransactionTest, StagingDirectoryIsTheNearestExistingOneWithRoomElseTheRamDisk) {
  const std::string fits = "/flash/" + std::string(117 - at("/flash/").size(), 'd');  // and "/tmpXXXXXX": 127
  for (const std::string& dir : {fits, fits + "e"}) std::filesystem::create_directories(at(dir));
  EXPECT_EQ(create("/flash/x", 0) + create("/flash/new/x", 10) + create(fits + "/x", 10) + create(fits + "e/x", 10),
            "/ram/flash" + fits + "/ram");
  for (const auto& [hint, block, blocks, room] : {std::make_tuple(930u, 1024u, 1u, true), {931u, 1024u, 1u, false},
                                                  {1u, 4096u, 1u << 20, false}, {1u, 4096u, (1u << 20) + 1, true}})
    EXPECT_EQ(roomForStaging(hint, block, blocks), room) << hint << " " << blocks;

  // At a real file system's limit.
  TmpfsMount fs(at("/flash/f"), 64 * 1024);
  if (!fs.mounted()) GTEST_SKIP() << fs.error();
  const uint32_t free = static_cast<uint32_t>(std::filesystem::space(at("/flash/f")).free);
  uint32_t largest = free * 10 / 11 + 10;
  while (largest + largest / 10 >= free) --largest;
  EXPECT_EQ(create("/flash/f/a", largest) + create("/flash/f/b", largest + 1), "/flash/f/ram");
}

// A commit places every new file on its destination's file system before it changes anything: what
// cannot be placed leaves the board, the staged files and the operations as they were, and no copy.
// Then deletions and links come first and moves last: a directory deleted (but for its hidden files and
// subdirectories) and filled again keeps its new file. A file from another file system is copied, chunk by
// chunk, with its mode; a moved file stays where it was, a staged one goes, and so does content staged over.
TEST_F(TransactionTest, ACommitPlacesEveryFileFirstThenDeletesAndLinksThenMoves) {
  TmpfsMount small(at("/flash/s"), 96 * 1024);
  if (!small.mounted()) GTEST_SKIP() << small.error();
  for (const char* file :
       {"/flash/old", "/flash/s/dst", "/flash/plain/a", "/flash/plain/.b", "/flash/plain/d/c", "/flash/rw/p.vpa"})
    writeFile(at(file), "x");
  writeFile(at("/ram/big"), std::string(200000, 'b'));
  const std::tuple<const char*, int, const char*> rows[] = {
      {"M /flash/b /flash/missing", ENOENT, "/flash/missing"}, {"M /flash/s/dst /ram/big", ENOSPC, "/flash/s/dst"},
      {"M /flash/a /flash/old\nU /flash/old", EINVAL, "/flash/old"},  // a source the commit changes, or twice
      {"L /flash/old t\nM /flash/a /flash/old", EINVAL, "/flash/old"},
      {"M /flash/a /ram/big\nM /flash/b /ram/big", EINVAL, "/ram/big"}, {"M /flash/b @new", EINVAL, "@new"}};
  for (const auto& [lines, error, path] : rows) {
    Transaction transaction{BoardPaths(posixFs, root_)};
    FileSink(posixFs, transaction.create(at("/flash/new"), 10, 0)).write("created", 7);
    const std::string created = transaction.find(at("/flash/new"))->source.substr(root_.size());  // "@new"
    ASSERT_TRUE(load(transaction, "U /flash/s/dst\n" + replaceAll(lines, "@new", created) + "\n"));
    const std::string ops = staged(transaction);
    std::filesystem::remove(at("/flash/.staged"));  // which records the copies too
    const std::string before = tree(root_);
    CommitFailure failure;
    EXPECT_FALSE(transaction.commit(nullptr, &failure));
    std::filesystem::remove(at("/flash/.staged"));
    EXPECT_EQ(std::make_tuple(failure.error, failure.path, tree(root_), staged(transaction)),
              std::make_tuple(error, at(replaceAll(path, "@new", created)), before, ops)) << lines;
    transaction.cancel();
  }
  std::string content(3 * 16384 + 1, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 131 + i / 7);
  writeFile(at("/ram/src"), content);
  ::chmod(at("/ram/src").c_str(), 0640);
  for (const char* path : {"/flash/twice", "/flash/twice", "/flash/gone"}) create(path, 0, 0, path);
  transaction_.remove(at("/flash/gone"));
  create("/flash/plain/new", 0, 0700, "new");
  EXPECT_EQ(create("/flash/s/created", 0, 0750), "/ram");
  ASSERT_TRUE(load(transaction_, "U /flash/old\nU /flash/plain\nL /flash/s/dst t\nL /flash/new/link t\n"
                                 "M /flash/image /flash/rw/p.vpa\nM /flash/s/sub/dst /ram/src\n"));
  EXPECT_TRUE(transaction_.commit(nullptr));
  EXPECT_EQ(tree(at("/flash")), "image=x new/ new/link>t plain/ plain/.b=x plain/d/ plain/d/c=x plain/new@700=new rw/ "
                                "s/ s/created@750= s/dst>t s/sub/ s/sub/dst@640=" + content + " twice@600=/flash/twice");
  EXPECT_EQ(tree(at("/ram")), "big=" + std::string(200000, 'b') + " src@640=" + content);
  EXPECT_EQ(std::distance(transaction_.begin(), transaction_.end()), 9);
}

// A flash that cannot list a directory the commit deletes fails it with that path, and the journal stays.
struct UnlistableDirectories : PosixFileSystem {
  bool listDirectory(const std::string&, std::vector<DirectoryEntry>*) override { return errno = EIO, false; }
};

TEST_F(TransactionTest, ADirectoryThatCannotBeListedFailsTheCommitWithItsPath) {
  UnlistableDirectories failing;
  writeFile(at("/flash/dir/a"), "a");
  Transaction transaction{BoardPaths(failing, root_)};
  ASSERT_TRUE(load(transaction, "U /flash/dir\n"));
  CommitFailure failure;
  EXPECT_FALSE(transaction.commit(nullptr, &failure));
  EXPECT_EQ(std::tie(failure.error, failure.path, failure.journalLeft), std::make_tuple(EIO, at("/flash/dir"), true));
}

// The calls that find and make directories, as "mkdir PATH", "rename! PATH" (failed) and "syncfs PATH".
struct DirectoryCalls : PosixFileSystem {
  explicit DirectoryCalls(std::string root) : root(std::move(root)) {}
  bool rename(const std::string& from, const std::string& to) override {
    const bool renamed = PosixFileSystem::rename(from, to);
    if (!renamed) log += "rename! " + to.substr(root.size()) + "|";
    return renamed;
  }
  bool makeDirectory(const std::string& path, unsigned mode) override {
    const bool made = PosixFileSystem::makeDirectory(path, mode);
    log += (made ? "mkdir " : "mkdir! ") + path.substr(root.size()) + "|";
    return made;
  }
  bool syncFileSystem(const std::string& path) override {
    log += "syncfs|";
    return PosixFileSystem::syncFileSystem(path);
  }
  const std::string root;
  std::string log;
};

// A commit finds a missing directory by a failing rename only where nothing above it was made: below a
// directory it made, everything is missing and made at once, top down, whatever order the paths take. A
// rename an earlier run did is made durable all the same.
TEST_F(TransactionTest, ACommitMakesEachMissingDirectoryOnceTopDownAndSyncsRenamesAnEarlierRunDid) {
  DirectoryCalls calls(root_);
  std::filesystem::create_directories(at("/flash/old"));
  Transaction transaction{BoardPaths(calls, root_)};
  for (const char* path : {"/flash/n/a/1", "/flash/n/a-b/2", "/flash/n/a.x", "/flash/n/a/b/3", "/flash/n/a/c/d/4",
                           "/flash/n/a/5", "/flash/old/e/6", "/flash/old/7"})
    FileSink(calls, transaction.create(at(path), 10, 0644)).write(path, strlen(path));
  calls.log.clear();
  ASSERT_TRUE(transaction.commit(nullptr));
  EXPECT_EQ(tree(at("/flash")), "n/ n/a/ n/a-b/ n/a-b/2=/flash/n/a-b/2 n/a.x=/flash/n/a.x n/a/1=/flash/n/a/1 "
                                "n/a/5=/flash/n/a/5 n/a/b/ n/a/b/3=/flash/n/a/b/3 n/a/c/ n/a/c/d/ "
                                "n/a/c/d/4=/flash/n/a/c/d/4 old/ old/7=/flash/old/7 old/e/ old/e/6=/flash/old/e/6");
  EXPECT_EQ(calls.log, "syncfs|mkdir! /flash|rename! /flash/n/a-b/2|mkdir! /flash/n/a-b|mkdir /flash/n|mkdir /flash/n/a-b|"
                       "mkdir /flash/n/a|mkdir /flash/n/a/b|mkdir /flash/n/a/c|mkdir /flash/n/a/c/d|"
                       "rename! /flash/old/e/6|mkdir /flash/old/e|syncfs|");

  writeFile(at("/flash/.journal"), "M " + at("/flash/old/7") + " " + at("/flash/tmpGone") + "\n");
  calls.log.clear();
  CommitFailure failure;
  EXPECT_TRUE(recoverInterruptedRun(BoardPaths(calls, root_), &failure));
  EXPECT_EQ(calls.log, "rename! /flash/old/7|syncfs|");
  EXPECT_FALSE(std::filesystem::exists(at("/flash/.journal")));
}

// A cut may keep the record's removal and lose the staged files': a cancel deletes them durably first.
TEST_F(TransactionTest, ACancelDeletesTheStagedFilesDurablyBeforeTheirRecord) {
  FaultyFileSystem faulty(InjectedFault(), -1);
  std::filesystem::create_directories(at("/flash/bin"));
  Transaction transaction{BoardPaths(faulty, root_)};
  FileSink(faulty, transaction.create(at("/flash/bin/a"), 10, 0)).write("a", 1);
  ASSERT_TRUE(faulty.syncFileSystem(at("/flash")));  // the staged file's name lasts
  transaction.cancel();
  ASSERT_TRUE(syncDirectory(faulty, at("/flash")));
  faulty.losePower(CutPolicy::kNoneKept, "");
  EXPECT_EQ(tree(at("/flash")), "bin/");
}

// A manifest keeps every byte of its paths; only one whole and well-formed is staged, and only when it
// changes nothing outside the flash and moves nothing in from outside flash and RAM disk.
TEST_F(TransactionTest, AManifestKeepsEveryByteOfItsPathsAndLoadsWholeOrNotAtAll) {
  transaction_.link("two words\tand\na \\ back\x7f\xc3\xa9", at("/flash/with blank"));
  ASSERT_TRUE(transaction_.save(at("/ram/MANIFEST")));
  EXPECT_EQ(readFile(at("/ram/MANIFEST")),
            "L " + at("/flash/with\\040blank") + " two\\040words\\011and\\012a\\040\\134\\040back\x7f\xc3\xa9\n");
  const std::pair<std::string, std::string> rows[] = {
      {"", ""}, {"U /flash/a\nL /flash/b /t\nM /flash/c /ram/s\n", "U /flash/a|L /flash/b /t|M /flash/c /ram/s|"},
      {"M  /flash/a   /flash/b \n", "M /flash/a /flash/b|"}, {"U /flash/a\nM /flash/a /ram/s\n", "M /flash/a /ram/s|"},
      {"M /flash/a\\040b /ram/t\\011\\012\\134\\177\\377\n", "M /flash/a b /ram/t\t\n\\\x7f\xff|"},
      {"U /flash/a\\b\\0\\9999\\000x\\400\n", "U /flash/a\\b\\0\\9999\\000x\\400|"},
      {"U /flash/a\r\n", "U /flash/a\r|"}, {"U /flash/a\nM /flash/c /ram/s", "no"}, {"U /flash/a\nU\n", "no"},
      {"U /flash/a\nX /flash/a /flash/b\n", "no"}, {"U /flash/a\nL /flash/b\n", "no"}, {"U /flash/a extra\n", "no"},
      {"U /flash/a\n\nU /flash/b\n", "no"}, {"U /flash/a\n   \n", "no"}, {"U /flash/a\nU /rw/b\n", "no"},
      {std::string("U /flash/a\nU /flash/\0\n", 22), "no"}, {"U /flash\n", "no"}, {"U /flash/../rw/b\n", "no"},
      {"M /flash/a /rw/b\n", "no"}, {"M /flash/a /ram/../rw/b\n", "no"}, {std::string(4096, '\0'), "no"}};  // noise
  for (auto [lines, expected] : rows) {
    if (lines[0] == '\0') for (size_t i = 0; i < lines.size(); ++i) lines[i] = static_cast<char>(i * 7919 + (i >> 3));
    Transaction transaction{BoardPaths(posixFs, root_)};
    EXPECT_EQ(load(transaction, lines) ? staged(transaction) : "no", expected) << lines;
  }
}

// The next run drops a journal that is not whole and well-formed, and changes nothing it names; then it
// deletes what was staged and is not saved. (Its completion, wherever a commit stopped, is swept.)
std::string recover(const std::string& journal) {
  ScratchDir scratch;
  const BoardPaths board(posixFs, scratch.path());
  for (const char* file : {"/flash/old", "/flash/dir/plain", "/ram/tmpCopied", "/ram/tmpLeft", "/ram/tmpSaved"})
    writeFile(board.at(file), file);
  writeFile(board.at("/rw/tmpOutside"), "/rw/tmpOutside");
  for (const char* file : {"/ram/tmpLeft", "/ram/tmpSaved", "/rw/tmpOutside"}) StagedRecord(board).record(board.at(file));
  writeFile(board.at("/ram/MANIFEST"), "M " + board.at("/flash/x") + " " + board.at("/ram/tmpSaved") + "\n");
  writeFile(board.at("/flash/.journal"), replaceAll(journal, "@", scratch.path()));
  CommitFailure failure;
  recoverInterruptedRun(board, &failure);
  std::filesystem::remove(board.at("/ram/MANIFEST"));
  return tree(scratch.path());
}

TEST(InterruptedCommit, TheNextRunDropsAJournalNotWholeAndDeletesWhatIsNotSaved) {
  for (const char* bad : {"M @/flash/dir/new @/flash/.tmpN", "X @/flash/dir\n", "U @/rw/tmpOutside\n", "U\n",
                          "M @/flash/new @/rw/tmpOutside\n", "D @/flash/../rw/tmpOutside\n", "D @/rw/tmpOutside\n"})
    EXPECT_EQ(recover(std::string("U @/flash/old\n") + bad),
              "flash/ flash/dir/ flash/dir/plain=/flash/dir/plain flash/old=/flash/old ram/ ram/tmpCopied=/ram/tmpCopied "
              "ram/tmpSaved=/ram/tmpSaved rw/ rw/tmpOutside=/rw/tmpOutside") << bad;
}

}  // namespace
