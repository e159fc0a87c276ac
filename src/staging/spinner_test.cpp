#include "staging/spinner.h"

#include <sstream>
#include <vector>

#include <gtest/gtest.h>

namespace {

// Hands out the ticks of a script, one per reading.
class ScriptedClock : public Clock {
 public:
  explicit ScriptedClock(std::vector<uint32_t> ticks) : ticks_(std::move(ticks)) {}
  uint32_t tick() override { return next_ < ticks_.size() ? ticks_[next_++] : ticks_.back(); }

 private:
  std::vector<uint32_t> ticks_;
  size_t next_ = 0;
};

std::string spin(std::vector<uint32_t> ticks) {
  ScriptedClock clock(ticks);
  std::ostringstream out;
  Spinner spinner(clock, out);
  for (size_t i = 0; i < ticks.size(); ++i) spinner.step();
  return out.str();
}

TEST(Spinner, DrawsAfterTheFirstStepAndRedrawsOnlyPastTwentyTicks) {
  struct Case {
    const char* what;
    std::vector<uint32_t> ticks;
    std::string output;
  } cases[] = {
      {"first step draws the bar without a backspace", {30000}, "|"},
      {"exactly 20 ticks later nothing happens", {30000, 30020}, "|"},
      {"21 ticks later the slash replaces the bar", {30000, 30021}, "|\b/"},
      {"the last tick advances by 20, not to the tick, so a stall catches up",
       {30000, 30100, 30100, 30100},
       "|\b/\b-\b\\"},
      {"after the backslash the bar comes again",
       {1000, 1021, 1042, 1063, 1084, 1105},
       "|\b/\b-\b\\\b|\b/"},
      {"ticks compare as unsigned differences across the wrap",
       {0xFFFFFFF0u, 0x00000005u, 0x00000010u},
       "|\b/"},
  };
  for (const Case& c : cases) EXPECT_EQ(spin(c.ticks), c.output) << c.what;
}

TEST(Spinner, AClockReadingZeroNeverRunsPastTheFourCharacters) {
  // A tick of 0 leaves the spinner "not drawn yet", so every step draws anew.
  EXPECT_EQ(spin({0, 0, 0, 0, 0, 0}), "|/-\\|/");
}

}  // namespace
