#include "support/package_damage.h"

#include <gtest/gtest.h>

#include "support/package_writer.h"
#include "support/scenario_text.h"

namespace {

// Header, then parts 1 ("abcd"), 4 ("xy") and 9 ("sig"): 35 bytes.
const std::string kFile = PackageWriter().part(1, "abcd").part(4, "xy").part(9, "sig").bytes();

std::string patched(size_t offset, const std::string& bytes, size_t size = 35) {
  std::string file = kFile.substr(0, size);
  return file.replace(offset, bytes.size(), bytes);
}

TEST(PackageDamage, EachKnobChangesExactlyTheBytesItNames) {
  struct Case {
    std::vector<std::string> knob;
    std::string result;  // the damaged file, or the error
  } cases[] = {
      {{"flip", "0"}, patched(0, "\x1f")},
      {{"flip", "-1", "0x20"}, patched(34, "G")},
      {{"cut", "10"}, kFile.substr(0, 10)},
      {{"cut", "-3"}, kFile.substr(0, 32)},
      {{"length", "5"}, patched(4, std::string("\x05\0\0\0", 4))},
      {{"length", "fit"}, kFile},
      {{"part", "2", "0x10203"}, patched(20, std::string("\x03\x02\x01\0", 4))},
      {{"type", "9", "7"}, patched(28, std::string("\x07\0\0\0", 4))},
      {{"unsigned"}, patched(4, std::string("\x12\0\0\0", 4), 26)},
      {{"part", "4", "1"}, "the file has no such part"},
      {{"part", "0", "1"}, "part K N: K counts parts from 1"},
      {{"type", "1", "4294967296"}, "a length field takes 0 to 4294967295"},
      {{"flip", "35"}, "flip OFFSET [MASK]: an offset inside the file and a mask 1 to 255"},
      {{"flip", "-36"}, "flip OFFSET [MASK]: an offset inside the file and a mask 1 to 255"},
      {{"cut", "36"}, "cut SIZE: at most the file's size, or -K for K bytes off the end"},
      {{"length"}, "unknown damage \"length\" (flip, cut, length, part, type, unsigned, append)"},
  };
  for (const Case& c : cases) {
    std::string bytes = kFile, error;
    const std::string result = damagePackage(c.knob, &bytes, &error) ? bytes : error;
    EXPECT_EQ(escape(result), escape(c.result)) << c.knob[0];
  }
}

}  // namespace
