#include "pkgfile/processor_class.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/processor_version.h"

namespace {

struct ClassCase {
  uint32_t pvr;
  bool variantBit;
  int expected;
  bool variantAsked;
  const char* what;
};

TEST(ProcessorClass, EveryRowOfTheTableInItsOrder) {
  const ClassCase cases[] = {
      // The two shared e500v2 revisions: the flash variant decides 2 or 4,
      // whatever the lowest byte holds.
      {0x80211000, true, 2, true, "shared revision A, variant set"},
      {0x80211000, false, 4, true, "shared revision A, variant clear"},
      {0x802110FF, false, 4, true, "shared revision A, lowest byte ignored"},
      {0x80212100, true, 2, true, "shared revision B, variant set"},
      {0x80212155, false, 4, true, "shared revision B, variant clear"},
      // Next to them: plain e500v2, the variant is not asked.
      {0x80211100, false, 2, false, "e500v2 beside revision A"},
      {0x80212000, false, 2, false, "e500v2 beside revision B"},
      {0x80210030, false, 2, false, "e500v2 (mpc8572e)"},
      {0x80210010, true, 2, false, "e500v2 1.0"},
      {0x00211000, false, 2, false, "family 0x21 without the top byte of revision A"},
      {0x80200020, false, 2, false, "e500v1"},
      // The e300 cores; e300c4 is outside.
      {0x00830010, false, 1, false, "e300c1"},
      {0x00840010, false, 1, false, "e300c2"},
      {0x00850010, false, 1, false, "e300c3"},
      {0xFF85FFFF, false, 1, false, "family 0x85 whatever the rest"},
      {0x00860010, false, kNoProcessorClass, false, "e300c4"},
      {0x00820000, false, kNoProcessorClass, false, "family 0x82"},
      // Class 3 matches the whole upper half.
      {0x130218A4, false, 3, false, "upper half 0x1302"},
      {0x13020000, false, 3, false, "upper half 0x1302, revision 0"},
      {0x13030000, false, kNoProcessorClass, false, "upper half 0x1303"},
      {0x00001302, false, kNoProcessorClass, false, "0x1302 in the lower half"},
      {0x23020000, false, kNoProcessorClass, false, "family 0x02 under another top byte"},
      // Outside the table.
      {0x80040201, true, kNoProcessorClass, false, "7448"},
      {0x80040010, true, kNoProcessorClass, false, "e600"},
      {0x80230020, true, kNoProcessorClass, false, "e500mc"},
      {0x00000000, true, kNoProcessorClass, false, "zero"},
      {0xFFFFFFFF, true, kNoProcessorClass, false, "all ones"},
  };
  for (const ClassCase& c : cases) {
    int asked = 0;
    const auto variant = [&]() {
      ++asked;
      return c.variantBit;
    };
    EXPECT_EQ(processorClass(c.pvr, variant), c.expected) << c.what;
    EXPECT_EQ(asked, c.variantAsked ? 1 : 0) << c.what;
  }
}

TEST(ProcessorClass, ReadsTheRegisterThroughTheProcessorInterface) {
  EXPECT_EQ(processorClass(FixedProcessorVersion(0x80211020), [] { return true; }), 2);
  EXPECT_EQ(processorClass(FixedProcessorVersion(0x80211020), [] { return false; }), 4);
}

TEST(ProcessorClass, RecordsForEveryBoardGoEverywhereOthersOnlyToTheirClass) {
  struct {
    unsigned record;
    int board;
    bool fits;
  } const cases[] = {
      {0, kNoProcessorClass, true}, {0, 1, true},  {0, 4, true},
      {1, kNoProcessorClass, false}, {4, kNoProcessorClass, false},
      {1, 1, true},  {2, 1, false}, {3, 1, false}, {4, 1, false},
      {2, 2, true},  {4, 2, false}, {3, 3, true},  {4, 4, true}, {2, 4, false},
      {5, 1, false}, {255, kNoProcessorClass, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(recordFitsBoard(c.record, c.board), c.fits)
        << "record class " << c.record << " on board class " << c.board;
  }
}

// The class the processor running this test must get, from
// INSTALLER_EXPECTED_PROCESSOR_CLASS ("none" or 1 to 4), which
// scripts/target-test sets for each emulated processor.
bool expectedClass(int* value) {
  const char* text = std::getenv("INSTALLER_EXPECTED_PROCESSOR_CLASS");
  if (text == nullptr) return false;
  if (std::strcmp(text, "none") == 0) {
    *value = kNoProcessorClass;
    return true;
  }
  const std::string digit(text);
  EXPECT_TRUE(digit.size() == 1 && digit[0] >= '1' && digit[0] <= '4')
      << "INSTALLER_EXPECTED_PROCESSOR_CLASS is neither none nor 1 to 4: " << text;
  *value = digit.empty() ? -1 : digit[0] - '0';
  return true;
}

TEST(ProcessorClass, RunningBoardGetsTheClassItIsExpectedToHave) {
  int expected = kNoProcessorClass;
  if (!expectedClass(&expected)) {
#if defined(__powerpc__) || defined(__PPC__)
    GTEST_SKIP() << "INSTALLER_EXPECTED_PROCESSOR_CLASS names no class to compare with";
#else
    expected = kNoProcessorClass;  // the stand-in register of other processors
#endif
  }
  // The emulated processors are none of those whose class the flash variant
  // decides; a board without the device answers false.
  const RunningProcessorVersion processor;
  EXPECT_EQ(processorClass(processor, [] { return false; }), expected)
      << std::hex << "register 0x" << processor.read();
}

}  // namespace
