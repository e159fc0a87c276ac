// The processor class table, and the class of the processor running the test.
#include "pkgfile/processor_class.h"

#include <gtest/gtest.h>

#include "platform/processor_version.h"

namespace {

// Register, flash variant bit, class, whether the bit is asked: the two shared e500v2 revisions
// (whatever their lowest byte), e500v2 and v1 beside them, e300c1 to c3 but not c4, the upper
// half 0x1302 as a whole, then 7448, e600, e500mc and the extremes.
TEST(ProcessorClass, EveryRowOfTheTableInItsOrder) {
  const struct { uint32_t pvr; bool variant; int expected; bool asked; } cases[] = {
      {0x80211000, 1, 2, 1}, {0x80211000, 0, 4, 1}, {0x802110FF, 0, 4, 1}, {0x80212100, 1, 2, 1}, {0x80212155, 0, 4, 1},
      {0x80211100, 0, 2, 0}, {0x80212000, 0, 2, 0}, {0x80210030, 0, 2, 0}, {0x80210010, 1, 2, 0}, {0x00211000, 0, 2, 0},
      {0x80200020, 0, 2, 0}, {0x00830010, 0, 1, 0}, {0x00840010, 0, 1, 0}, {0x00850010, 0, 1, 0}, {0xFF85FFFF, 0, 1, 0},
      {0x00860010, 0, 0, 0}, {0x00820000, 0, 0, 0}, {0x130218A4, 0, 3, 0}, {0x13020000, 0, 3, 0}, {0x13030000, 0, 0, 0},
      {0x00001302, 0, 0, 0}, {0x23020000, 0, 0, 0}, {0x80040201, 1, 0, 0}, {0x80040010, 1, 0, 0}, {0x80230020, 1, 0, 0},
      {0x00000000, 1, 0, 0}, {0xFFFFFFFF, 1, 0, 0}};
  for (const auto& c : cases) {
    int asked = 0;
    EXPECT_EQ(processorClass(c.pvr, [&] { return ++asked, c.variant; }), c.expected) << std::hex << c.pvr;
    EXPECT_EQ(asked, c.asked ? 1 : 0) << std::hex << c.pvr;
  }
  EXPECT_EQ(processorClass(FixedProcessorVersion(0x80211020), [] { return true; }), 2);  // through the interface
  EXPECT_EQ(processorClass(FixedProcessorVersion(0x80211020), [] { return false; }), 4);
}

// scripts/target-test sets INSTALLER_EXPECTED_PROCESSOR_CLASS ("none", 1 to 4) for each emulated
// processor, none of which has its class decided by the flash variant; elsewhere there is none.
TEST(ProcessorClass, RunningBoardGetsTheClassItIsExpectedToHave) {
  const char* text = std::getenv("INSTALLER_EXPECTED_PROCESSOR_CLASS");
#if defined(__powerpc__) || defined(__PPC__)
  if (text == nullptr) GTEST_SKIP() << "INSTALLER_EXPECTED_PROCESSOR_CLASS names no class to compare with";
#endif
  const std::string expected = text ? text : "none";
  const int found = processorClass(RunningProcessorVersion(), [] { return false; });
  EXPECT_EQ(found == kNoProcessorClass ? "none" : std::to_string(found), expected)
      << std::hex << "register 0x" << RunningProcessorVersion().read();
}

}  // namespace
