// The two flash queries over answers a test gives in place of the board's devices.
#include "platform/flash_devices.h"

#include <gtest/gtest.h>

namespace {

struct Answers : FlashDevices {
  bool opened = true;
  int variantResult = 0;
  uint32_t eraseSize = 0;
  bool mtdEraseSize(uint32_t* size) override { return *size = eraseSize, opened; }
  bool flashVariantRequest(int* result) override { return *result = variantResult, opened; }
  uint32_t flashMinimumVersion() override { return 0; }
};

// The variant bit is bit 0x10 of what the request returned: a failed request (-1) has it set, a device that
// cannot be opened does not. Large erase blocks are exactly 256 KiB.
TEST(FlashDevices, TheVariantBitAndLargeEraseBlocks) {
  const struct { bool opened; int result; uint32_t erase; bool variant, large; } rows[] = {
      {true, 0x10, 0x40000, true, true}, {true, 0xEF, 0x20000, false, false},
      {true, -1, 0x80000, true, false},  {false, 0x10, 0x40000, false, false}};
  for (const auto& row : rows) {
    Answers answers;
    answers.opened = row.opened, answers.variantResult = row.result, answers.eraseSize = row.erase;
    const ScopedFlashDevices scoped(&answers);
    EXPECT_EQ(flashVariantBit(), row.variant) << row.opened << " " << row.result;
    EXPECT_EQ(hasLargeEraseBlocks(), row.large) << row.opened << " " << std::hex << row.erase;
  }
}

}  // namespace
