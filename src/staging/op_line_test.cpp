// Operation lines as the manifest, the journal and the record keep them.
#include "staging/op_line.h"

#include <string>

#include <gtest/gtest.h>

namespace {

// Blank, tab, newline and backslash are escaped wherever they stand; every other byte stays. The
// length told beforehand is the length written, and a line appended leaves what was there.
TEST(OpLine, EscapesTheFourSeparatingBytesAndKnowsItsLengthBeforehand) {
  const struct {
    char letter;
    const char* path;
    const char* second;
    const char* line;
  } rows[] = {
      {'U', "/flash/a", "", "U /flash/a"},
      {'M', "/flash/a", "/flash/tmpX", "M /flash/a /flash/tmpX"},
      {'L', "/flash/with blank", "two\twords\nand \\", "L /flash/with\\040blank two\\011words\\012and\\040\\134"},
      {'S', " \\", "", "S \\040\\134"},
      {'M', "/\xc3\xa9\x7f", "\x01", "M /\xc3\xa9\x7f \x01"},
      {'U', "", "", "U "},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(formatOpLine(row.letter, row.path, row.second), row.line) << row.line;
    EXPECT_EQ(opLineSize(row.letter, row.path, row.second), std::string(row.line).size()) << row.line;
    std::string text = "before\n";
    appendOpLine(&text, row.letter, row.path, row.second);
    EXPECT_EQ(text, std::string("before\n") + row.line);
  }
}

}  // namespace
