#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "staging/transaction.h"
#include "support/scratch_dir.h"

namespace {

// The staged operations as "U path", "L path text" or "M path source" lines
// (unescaped), for comparing whole transactions.
std::vector<std::string> describe(const Transaction& transaction) {
  std::vector<std::string> lines;
  for (const auto& [destination, op] : transaction) {
    switch (op.kind) {
      case OpKind::Remove: lines.push_back("U " + destination); break;
      case OpKind::Link: lines.push_back("L " + destination + " " + op.source); break;
      case OpKind::Move: lines.push_back("M " + destination + " " + op.source); break;
      case OpKind::Create: lines.push_back("C " + destination + " " + op.source); break;
    }
  }
  return lines;
}

TEST(Manifest, SaveWritesOneLinePerOperationInPathOrder) {
  ScratchDir scratch;
  ASSERT_TRUE(writeFile(scratch / "flash/a", "a"));
  ::mkdir((scratch / "ram").c_str(), 0755);
  Transaction transaction{BoardPaths(scratch.path())};
  ::close(transaction.create(scratch / "flash/c", 0, 0));
  std::string temporary = transaction.find(scratch / "flash/c")->source;
  transaction.link("/flash/bootimage", scratch / "flash/b");
  transaction.remove(scratch / "flash/a");
  ASSERT_TRUE(transaction.save(scratch / "MANIFEST"));
  EXPECT_EQ(readFile(scratch / "MANIFEST"), "U " + scratch / "flash/a\n" + "L " + scratch / "flash/b" +
                                                " /flash/bootimage\n" + "M " + scratch / "flash/c" + " " +
                                                temporary + "\n");
}

TEST(Manifest, SaveEscapesBlanksTabsNewlinesAndBackslashesOnly) {
  ScratchDir scratch;
  Transaction transaction{BoardPaths(scratch.path())};
  transaction.link("two words\tand\na \\ back", "/flash/with blank");
  transaction.move("/ram/tmpAAAAAA", "/flash/plain-\xc3\xa9.txt");
  ASSERT_TRUE(transaction.save(scratch / "MANIFEST"));
  EXPECT_EQ(readFile(scratch / "MANIFEST"),
            "M /flash/plain-\xc3\xa9.txt /ram/tmpAAAAAA\n"
            "L /flash/with\\040blank two\\040words\\011and\\012a\\040\\134\\040back\n");
}

TEST(Manifest, SaveThenLoadGivesBackEveryPathWithCreationsAsMoves) {
  ScratchDir scratch;
  const std::string flash = scratch / "flash";
  ASSERT_TRUE(writeFile(flash + "/old file", "x"));
  Transaction saved{BoardPaths(scratch.path())};
  saved.remove(flash + "/old file");
  saved.link("a b\\c", flash + "/l\tink");
  saved.move(scratch / "ram/tmp 1", flash + "/new\nline");
  saved.move(scratch / "ram/back\\040slash", flash + "/m");
  ASSERT_TRUE(saved.save(scratch / "MANIFEST"));

  Transaction loaded{BoardPaths(scratch.path())};
  EXPECT_TRUE(loaded.load(scratch / "MANIFEST"));
  EXPECT_EQ(describe(loaded), describe(saved));
}

// A manifest is applied only when it reads whole and well-formed: every line
// as save() writes them, every destination below the flash, every source
// below the flash or the RAM disk. Otherwise nothing of it is staged.
TEST(Manifest, LoadStagesAWholeWellFormedManifestOrNothing) {
  struct Case {
    const char* what;
    std::string manifest;  // "@" stands for the scratch root
    bool result;
    std::vector<std::string> staged;
  } cases[] = {
      {"an empty file", "", true, {}},
      {"one of each", "U @/flash/a\nL @/flash/b /t\nM @/flash/c @/ram/s\n", true,
       {"U @/flash/a", "L @/flash/b /t", "M @/flash/c @/ram/s"}},
      {"runs of blanks separate like one", "M  @/flash/a   @/flash/b \n", true, {"M @/flash/a @/flash/b"}},
      {"a later line for the same path wins", "U @/flash/a\nM @/flash/a @/ram/s\n", true, {"M @/flash/a @/ram/s"}},
      {"escapes are decoded", "M @/flash/a\\040b @/ram/t\\011\\012\\134\n", true, {"M @/flash/a b @/ram/t\t\n\\"}},
      {"other backslashes stay", "U @/flash/a\\b\\0\\9999\\000x\n", true, {"U @/flash/a\\b\\0\\9999\\000x"}},
      {"carriage returns are part of the path", "U @/flash/a\r\n", true, {"U @/flash/a\r"}},
      {"a last line without newline", "U @/flash/a\nM @/flash/c @/ram/s", false, {}},
      {"an unknown letter", "U @/flash/a\nX @/flash/a @/flash/b\n", false, {}},
      {"a single field", "U @/flash/a\nU\n", false, {}},
      {"a link without text", "U @/flash/a\nL @/flash/b\n", false, {}},
      {"a removal with a further field", "U @/flash/a extra\n", false, {}},
      {"an empty line", "U @/flash/a\n\nU @/flash/b\n", false, {}},
      {"a line of blanks", "U @/flash/a\n   \n", false, {}},
      {"a NUL byte", std::string("U @/flash/a\nU @/flash/b\0c\n", 26), false, {}},
      {"a destination outside the flash", "U @/flash/a\nU @/rw/b\n", false, {}},
      {"a source outside flash and RAM disk", "M @/flash/a @/rw/b\n", false, {}},
      {"a path climbing out", "M @/flash/a @/ram/../rw/b\n", false, {}},
  };
  ScratchDir scratch;
  auto rooted = [&scratch](std::string text) {
    for (size_t at; (at = text.find('@')) != std::string::npos;) text.replace(at, 1, scratch.path());
    return text;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(writeFile(scratch / "MANIFEST", rooted(c.manifest)));
    Transaction transaction{BoardPaths(scratch.path())};
    EXPECT_EQ(transaction.load(scratch / "MANIFEST"), c.result);
    std::vector<std::string> staged;
    for (const std::string& line : c.staged) staged.push_back(rooted(line));
    EXPECT_EQ(describe(transaction), staged);
  }
}

TEST(Manifest, LoadOfWhatIsNoFileFailsWithNothingStaged) {
  ScratchDir scratch;
  ASSERT_EQ(::mkfifo((scratch / "fifo").c_str(), 0644), 0);
  Transaction transaction{BoardPaths(scratch.path())};
  EXPECT_FALSE(transaction.load(scratch / "fifo"));
  EXPECT_FALSE(transaction.load(scratch / "missing"));
  EXPECT_FALSE(transaction.load(scratch.path()));
  EXPECT_TRUE(transaction.isEmpty());
}

TEST(Manifest, LoadSurvivesArbitraryBytes) {
  ScratchDir scratch;
  std::string noise;
  for (int i = 0; i < 4096; ++i) noise += static_cast<char>((i * 7919 + (i >> 3)) & 0xFF);
  ASSERT_TRUE(writeFile(scratch / "MANIFEST", noise));
  Transaction transaction{BoardPaths(scratch.path())};
  transaction.load(scratch / "MANIFEST");
  for (const auto& entry : transaction) EXPECT_NE(entry.second.kind, OpKind::Create);
}

}  // namespace
