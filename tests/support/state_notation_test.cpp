#include "support/state_notation.h"

#include <gtest/gtest.h>

// The words' meaning is checked by the tables and scenarios written in them; here, that a fault is
// found at the word it is in (-1: none).
TEST(StateNotation, FindsTheFirstFaultAtItsWord) {
  const std::pair<const char*, int> cases[] = {
      {"", -1}, {"a 1.0 built=4294967295 files= +p:::-2147483648 +q:6.41:6.42rc:2147483647;", -1}, {";", 0},
      {"a 1.0;; b 1.0", 6}, {"system", 0}, {"a/b 1.0", 0}, {"a 6.40.0", 2}, {"a 06.40", 2}, {"a 256.1", 2},
      {"a 1.0 >b:1.0:2.0:3", 6}, {"a 1.0 !b:x", 6}, {"a 1.0 +p:::2147483648", 6}, {"a 1.0 +p:::-", 6}, {"a 1.0 @", 6},
      {"a 1.0 built=4294967296", 6}, {"a placeholder built=1", 14}, {"a 1.0 files=a,,b", 6}, {"a 1.0   disabled=x", 8},
  };
  for (const auto& [text, offset] : cases) {
    std::vector<std::unique_ptr<Package>> packages;
    NotationError error;
    EXPECT_EQ(parsePackages(text, &packages, &error) ? -1 : static_cast<int>(error.offset), offset) << text;
  }
}
