#include <sys/stat.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "apply/transaction.h"
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
  Transaction transaction(scratch / "ram");
  std::ofstream out = transaction.create(scratch / "flash/c", 0, 0);
  out.close();
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
  Transaction transaction;
  transaction.link("two words\tand\na \\ back", "/flash/with blank");
  transaction.move("/ram/tmpAAAAAA", "/flash/plain-\xc3\xa9.txt");
  ASSERT_TRUE(transaction.save(scratch / "MANIFEST"));
  EXPECT_EQ(readFile(scratch / "MANIFEST"),
            "M /flash/plain-\xc3\xa9.txt /ram/tmpAAAAAA\n"
            "L /flash/with\\040blank two\\040words\\011and\\012a\\040\\134\\040back\n");
}

TEST(Manifest, SaveThenLoadGivesBackEveryPathWithCreationsAsMoves) {
  ScratchDir scratch;
  ASSERT_TRUE(writeFile(scratch / "old file", "x"));
  Transaction saved;
  saved.remove(scratch / "old file");
  saved.link("a b\\c", "/flash/l\tink");
  saved.move("/ram/tmp 1", "/flash/new\nline");
  saved.move("/ram/back\\040slash", "/flash/m");
  ASSERT_TRUE(saved.save(scratch / "MANIFEST"));

  Transaction loaded;
  EXPECT_TRUE(loaded.load(scratch / "MANIFEST"));
  EXPECT_EQ(describe(loaded), describe(saved));
}

TEST(Manifest, LoadStagesWhatItCanReadAndStopsAtAMalformedLine) {
  struct Case {
    const char* what;
    std::string manifest;
    bool result;
    std::vector<std::string> staged;
  } cases[] = {
      {"an empty file", "", true, {}},
      {"one of each", "U /a\nL /b /t\nM /c /s\n", true, {"U /a", "L /b /t", "M /c /s"}},
      {"a last line without newline", "U /a\nM /c /s", true, {"U /a", "M /c /s"}},
      {"an unknown letter is ignored", "X /a /b\nu /c\nU /d\n", true, {"U /d"}},
      {"a single field stops", "U /a\nU\nU /b\n", false, {"U /a"}},
      {"a link without text stops", "U /a\nL /b\nU /c\n", false, {"U /a"}},
      {"a move without source stops", "M /b\n", false, {}},
      {"a removal ignores further fields", "U /a extra fields\n", true, {"U /a"}},
      {"an empty line ends the manifest", "U /a\n\nU /b\n", true, {"U /a"}},
      {"a line of blanks has no fields", "U /a\n   \nU /b\n", false, {"U /a"}},
      {"runs of blanks separate like one", "M  /a   /b \n", true, {"M /a /b"}},
      {"a later line for the same path wins", "U /a\nM /a /s\n", true, {"M /a /s"}},
      {"escapes are decoded", "M /a\\040b /t\\011\\012\\134\n", true, {"M /a b /t\t\n\\"}},
      {"other backslashes stay", "U /a\\b\\0\\9999\\000x\n", true, {"U /a\\b\\0\\9999\\000x"}},
      {"a NUL byte stops", std::string("U /a\nU /b\0c\nU /d\n", 17), false, {"U /a"}},
      {"carriage returns are part of the path", "U /a\r\n", true, {"U /a\r"}},
  };
  ScratchDir scratch;
  for (const Case& c : cases) {
    ASSERT_TRUE(writeFile(scratch / "MANIFEST", c.manifest));
    Transaction transaction;
    EXPECT_EQ(transaction.load(scratch / "MANIFEST"), c.result) << c.what;
    EXPECT_EQ(describe(transaction), c.staged) << c.what;
  }
}

TEST(Manifest, LoadOfWhatIsNoFileFailsWithNothingStaged) {
  ScratchDir scratch;
  Transaction transaction;
  EXPECT_FALSE(transaction.load(scratch / "missing"));
  EXPECT_FALSE(transaction.load(scratch.path()));
  EXPECT_TRUE(transaction.isEmpty());
}

TEST(Manifest, LoadSurvivesArbitraryBytes) {
  ScratchDir scratch;
  std::string noise;
  for (int i = 0; i < 4096; ++i) noise += static_cast<char>((i * 7919 + (i >> 3)) & 0xFF);
  ASSERT_TRUE(writeFile(scratch / "MANIFEST", noise));
  Transaction transaction;
  transaction.load(scratch / "MANIFEST");
  for (const auto& entry : transaction) EXPECT_NE(entry.second.kind, OpKind::Create);
}

}  // namespace
