#include "platform/text_reader.h"

#include <gtest/gtest.h>

#include <locale>
#include <sstream>
#include <string>

#include "support/scratch_dir.h"

namespace {

PosixFileSystem posixFs;

// The library's stream in the classic locale behind the reader's calls, as the database was read before.
struct StreamReader {
  explicit StreamReader(const std::string& text) : in(text) { in.imbue(std::locale::classic()); }
  bool word(std::string* text) { return static_cast<bool>(in >> *text); }
  bool line(std::string* text) { return static_cast<bool>(std::getline(in, *text)); }
  template <typename Number> bool number(Number* n) { return static_cast<bool>(in >> *n); }
  std::istringstream in;
};

// One read: 'w' a word, 'l' a line, 'u' an unsigned and 'i' a signed 32-bit number.
template <typename Reader>
std::string read(Reader& in, char kind) {
  static std::string text;  // a caller's string, kept from read to read
  uint32_t u = 0;
  int32_t i = 0;
  switch (kind) {
    case 'w': return in.word(&text) ? "w:" + text : "fail";
    case 'l': return in.line(&text) ? "l:" + text : "fail";
    case 'u': return in.number(&u) ? "u:" + std::to_string(u) : "fail";
    default: return in.number(&i) ? "i:" + std::to_string(i) : "fail";
  }
}

// Every read gives what the library's stream gives, failures included: signs, leading zeros, the
// edges of each range, digits followed by letters, every blank, NULs and high bytes, lines without
// a newline, and a word across the end of the reader's buffer.
TEST(TextReader, ReadsWordsLinesAndNumbersAsTheLibraryStreamDoes) {
  const std::pair<std::string, const char*> cases[] = {
      {"", "wlui"}, {"  12\t34\n", "uuu"}, {"-1 +7 -0 4294967295 4294967296 5", "uuuuuu"},
      {"-4294967295 -4294967296", "uu"}, {"2147483647 -2147483648 2147483648", "iii"}, {"-2147483649", "i"},
      {"99999999999999999999999999 1", "uu"}, {"- 5", "uu"}, {"+", "i"}, {"0007 000", "uu"},
      {"12abc 34", "uwu"}, {"1.5 0x10", "uwuw"}, {"\v\f\r name\xA0" "x\xff tail", "ww"},
      {std::string("a\0b \0c", 6), "ww"}, {std::string("\0x\ny", 4), "ll"}, {"first\n\nthird", "llll"},
      {"no newline", "ll"}, {"word rest of line\nnext", "wlw"}, {"7 rest", "ul"}, {"entry 1 2 5\nother 3", "wuuiwuu"},
      {std::string(4090, 'a') + " 1234567 " + std::string(5000, 'b') + "\nend", "wuwlw"},
  };
  ScratchDir scratch;
  for (const auto& [text, reads] : cases) {
    SCOPED_TRACE(testing::PrintToString(text.substr(0, 40)) + " read as " + reads);
    ASSERT_TRUE(writeFile(scratch / "file", text));
    StreamReader stream(text);
    TextReader reader(posixFs, scratch / "file");
    ASSERT_TRUE(reader.isOpen());
    for (const char* kind = reads; *kind != '\0'; ++kind) EXPECT_EQ(read(reader, *kind), read(stream, *kind));
  }
}

}  // namespace
