#include "model/version.h"

#include <gtest/gtest.h>

namespace {

struct TextCase {
  unsigned major, minor;
  unsigned char stage;
  unsigned number;
  const char* text;
};

TEST(VersionText, WritesEveryStageForm) {
  const TextCase cases[] = {
      {6, 40, 'f', 0, "6.40"},        {6, 40, 'f', 1, "6.40.1"},
      {6, 41, 'b', 3, "6.41beta3"},   {6, 41, 'b', 0, "6.41beta"},
      {6, 41, 'a', 0, "6.41alpha"},   {6, 41, 'a', 7, "6.41alpha7"},
      {6, 41, 'c', 2, "6.41rc2"},     {6, 41, 'c', 0, "6.41rc"},
      {6, 41, 0, 5, "6.415"},         {6, 41, 'x', 0, "6.41"},
      {0, 0, 0, 0, "0.0"},            {255, 255, 'f', 255, "255.255.255"},
      {255, 255, 'a', 255, "255.255alpha255"}, {3, 7, 'F', 1, "3.71"},
  };
  for (const TextCase& c : cases) {
    EXPECT_EQ(versionText(makeVersion(c.major, c.minor, c.stage, c.number)), c.text)
        << c.major << "." << c.minor << " stage " << int(c.stage) << " number " << c.number;
  }
}

TEST(Version, OrdersStagesAsPlainUnsignedNumbers) {
  const Version ordered[] = {
      makeVersion(6, 41, 'a', 1), makeVersion(6, 41, 'b', 1), makeVersion(6, 41, 'c', 1),
      makeVersion(6, 41, 'f', 0), makeVersion(6, 41, 'f', 1), makeVersion(6, 42, 'b', 1),
      makeVersion(128, 0, 'f', 0),  // the top bit set must not turn the order around
  };
  for (size_t i = 1; i < sizeof ordered / sizeof ordered[0]; ++i) {
    EXPECT_LT(ordered[i - 1], ordered[i]) << versionText(ordered[i]);
  }
}

TEST(Version, PacksFieldsMostSignificantFirst) {
  EXPECT_EQ(makeVersion(3, 22, 'f', 0), 0x03166600u);
  EXPECT_EQ(makeVersion(0x1FF, 0x102, 'a', 0x1FF), 0xFF0261FFu);  // each field keeps 8 bits
}

}  // namespace
