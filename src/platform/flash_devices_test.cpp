#include "platform/flash_devices.h"

#include <gtest/gtest.h>

#include "support/scratch_dir.h"

namespace {

TEST(BoardFlashDevices, DevicesThatCannotBeOpenedAnswerNothing) {
  ScratchDir scratch;
  BoardFlashDevices devices(scratch / "mtd0", scratch / "flash");
  uint32_t eraseSize = 12345;
  int result = 12345;
  EXPECT_FALSE(devices.mtdEraseSize(&eraseSize));
  EXPECT_EQ(eraseSize, 12345u);
  EXPECT_FALSE(devices.flashVariantRequest(&result));
  EXPECT_EQ(result, 12345);
  EXPECT_EQ(devices.flashMinimumVersion(), 0u);
}

TEST(BoardFlashDevices, DeviceThatRefusesTheRequestsAnswersAsAFailedRequest) {
  // A plain file opens but knows none of the requests.
  ScratchDir scratch;
  ASSERT_TRUE(writeFile(scratch / "dev", "not a device"));
  BoardFlashDevices devices(scratch / "dev", scratch / "dev");
  uint32_t eraseSize = 0;
  int result = 0;
  EXPECT_FALSE(devices.mtdEraseSize(&eraseSize));
  EXPECT_TRUE(devices.flashVariantRequest(&result));
  EXPECT_EQ(result, -1);
  EXPECT_EQ(devices.flashMinimumVersion(), 0u);  // the block was not filled
  EXPECT_EQ(readFile(scratch / "dev"), "not a device");
}

}  // namespace
