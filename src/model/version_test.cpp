#include "model/version.h"

#include <gtest/gtest.h>

#include "support/state_notation.h"

// Each text reads back from its version, and each version is above the one before; a stage
// without a word of its own shows none.
TEST(Version, TextsReadBackAndOrderAsPlainUnsignedNumbers) {
  Version previous = 0, version = 0;
  for (const char* text : {"0.0", "6.40.255", "6.41alpha", "6.41alpha7", "6.41beta", "6.41beta3", "6.41rc",
                           "6.41rc2", "6.41", "6.41.1", "6.42beta1", "127.255", "128.0", "255.255.255"}) {
    EXPECT_TRUE(parseVersionText(text, &version)) << text;
    EXPECT_EQ(versionText(version), text);
    EXPECT_GT(version, previous) << text;
    previous = version;
  }
  EXPECT_EQ(versionText(makeVersion(6, 41, 0, 5)) + " " + versionText(makeVersion(3, 7, 'F', 1)), "6.415 3.71");
}
