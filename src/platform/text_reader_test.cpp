#include "platform/text_reader.h"

#include <gtest/gtest.h>

#include <locale>
#include <sstream>
#include <string>

#include "support/scratch_dir.h"

namespace {

// One read through the library's stream, as the database was read before:
// 'w' a word, 'l' a line, 'u' an unsigned and 'i' a signed 32-bit number.
std::string streamRead(std::istream& in, char kind) {
  std::string text;
  uint32_t u = 0;
  int32_t i = 0;
  switch (kind) {
    case 'w': return (in >> text) ? "w:" + text : "fail";
    case 'l': return std::getline(in, text) ? "l:" + text : "fail";
    case 'u': return (in >> u) ? "u:" + std::to_string(u) : "fail";
    default: return (in >> i) ? "i:" + std::to_string(i) : "fail";
  }
}

std::string readerRead(TextReader& in, char kind) {
  std::string text;
  uint32_t u = 0;
  int32_t i = 0;
  switch (kind) {
    case 'w': return in.word(&text) ? "w:" + text : "fail";
    case 'l': return in.line(&text) ? "l:" + text : "fail";
    case 'u': return in.number(&u) ? "u:" + std::to_string(u) : "fail";
    default: return in.number(&i) ? "i:" + std::to_string(i) : "fail";
  }
}

// Every read gives what the library's stream gives in the classic locale,
// failures included: signs, leading zeros, the edges of each range, digits
// followed by letters, every blank, NULs and high bytes, lines without a
// newline, and a word across the end of the reader's buffer.
TEST(TextReader, ReadsWordsLinesAndNumbersAsTheLibraryStreamDoes) {
  const struct {
    std::string text;
    const char* reads;
  } cases[] = {
      {"", "wlui"},
      {"  12\t34\n", "uuu"},
      {"-1 +7 -0 4294967295 4294967296 5", "uuuuuu"},
      {"-4294967295 -4294967296", "uu"},
      {"2147483647 -2147483648 2147483648", "iii"},
      {"-2147483649", "i"},
      {"99999999999999999999999999 1", "uu"},
      {"- 5", "uu"},
      {"+", "i"},
      {"0007 000", "uu"},
      {"12abc 34", "uwu"},
      {"1.5 0x10", "uwuw"},
      {"\v\f\r name\xA0" "x\xff tail", "ww"},
      {std::string("a\0b c", 5), "ww"},
      {"first\n\nthird", "llll"},
      {"no newline", "ll"},
      {"word rest of line\nnext", "wlw"},
      {"7 rest", "ul"},
      {"entry 1 2 5\nother 3", "wuuiwuu"},
      {std::string(4090, 'a') + " 1234567 " + std::string(5000, 'b') + "\nend", "wuwlw"},
  };
  ScratchDir scratch;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text.substr(0, 40)) + " read as " + c.reads);
    ASSERT_TRUE(writeFile(scratch / "file", c.text));
    std::istringstream stream(c.text);
    stream.imbue(std::locale::classic());
    TextReader reader(scratch / "file");
    ASSERT_TRUE(reader.isOpen());
    for (const char* kind = c.reads; *kind != '\0'; ++kind) EXPECT_EQ(readerRead(reader, *kind), streamRead(stream, *kind));
  }
}

TEST(TextReader, WhatIsNoRegularFileIsNotOpenAndReadsNothing) {
  ScratchDir scratch;
  for (const std::string& path : {scratch / "missing", scratch.path(), std::string("/dev/null")}) {
    TextReader reader(path);
    std::string text;
    EXPECT_FALSE(reader.isOpen()) << path;
    EXPECT_FALSE(reader.word(&text)) << path;
    EXPECT_FALSE(reader.line(&text)) << path;
  }
}

}  // namespace
