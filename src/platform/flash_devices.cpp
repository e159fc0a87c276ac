// The board's flash devices through ioctl requests.
#include "platform/flash_devices.h"

#include <fcntl.h>
#include <mtd/mtd-user.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr unsigned long kFlashVariantRequest = 0x2000462B;
constexpr unsigned long kFlashMinimumVersionRequest = 0xC0044626;

// Argument block of the minimum-version request. The flash driver reads and
// fills it in the processor's own byte order, so it is a plain struct.
struct MinimumVersionBlock {
  uint16_t command;
  uint16_t item;
  uint32_t value;
};
static_assert(sizeof(MinimumVersionBlock) == 8, "the driver expects an 8-byte block");

constexpr uint16_t kMinimumVersionCommand = 4;
constexpr uint16_t kMinimumVersionItem = 37;

FlashDevices* gCurrent = nullptr;

}  // namespace

bool BoardFlashDevices::mtdEraseSize(uint32_t* eraseSize) {
  int fd = open(mtdPath_.c_str(), O_RDONLY);
  if (fd < 0) return false;
  mtd_info_user info = {};
  int result = ioctl(fd, MEMGETINFO, &info);
  close(fd);
  if (result < 0) return false;
  *eraseSize = info.erasesize;
  return true;
}

bool BoardFlashDevices::flashVariantRequest(int* requestResult) {
  int fd = open(flashPath_.c_str(), O_RDONLY);
  if (fd < 0) return false;
  *requestResult = ioctl(fd, kFlashVariantRequest, 0);
  close(fd);
  return true;
}

uint32_t BoardFlashDevices::flashMinimumVersion() {
  MinimumVersionBlock block = {kMinimumVersionCommand, kMinimumVersionItem, 0};
  int fd = open(flashPath_.c_str(), O_RDWR);
  if (fd < 0) return 0;
  ioctl(fd, kFlashMinimumVersionRequest, &block);  // its result is not looked at
  close(fd);
  return block.value;
}

FlashDevices& flashDevices() {
  static BoardFlashDevices board;
  return gCurrent ? *gCurrent : board;
}

ScopedFlashDevices::ScopedFlashDevices(FlashDevices* devices) : previous_(gCurrent) { gCurrent = devices; }

ScopedFlashDevices::~ScopedFlashDevices() { gCurrent = previous_; }

bool hasLargeEraseBlocks() {
  uint32_t eraseSize = 0;
  return flashDevices().mtdEraseSize(&eraseSize) && eraseSize == kLargeEraseSize;
}

bool flashVariantBit() {
  constexpr int kVariantBit = 0x10;
  int requestResult = 0;
  if (!flashDevices().flashVariantRequest(&requestResult)) return false;
  // A failed request returns -1, which has the bit set.
  return (requestResult & kVariantBit) != 0;
}
