// The board's flash devices: the geometry of the first MTD device and the two
// requests of the flash control device, behind one small interface.
#pragma once

#include <cstdint>
#include <string>

class FlashDevices {
 public:
  virtual ~FlashDevices() = default;

  // Erase block size of "/dev/mtd0" (MEMGETINFO); false when the device cannot
  // be opened or the request fails.
  virtual bool mtdEraseSize(uint32_t* eraseSize) = 0;

  // Sends request 0x2000462B (no argument) to "/dev/flash" and stores what the
  // request returned (-1 when it failed); false when the device cannot be opened.
  virtual bool flashVariantRequest(int* requestResult) = 0;

  // Sends request 0xC0044626 to "/dev/flash" and returns the 32-bit field of
  // its argument block afterwards: the board's minimum system version, 0 when
  // the device cannot be opened or does not fill it.
  virtual uint32_t flashMinimumVersion() = 0;
};

// The devices as the running system has them.
class BoardFlashDevices : public FlashDevices {
 public:
  explicit BoardFlashDevices(std::string mtdPath = "/dev/mtd0", std::string flashPath = "/dev/flash")
      : mtdPath_(std::move(mtdPath)), flashPath_(std::move(flashPath)) {}

  bool mtdEraseSize(uint32_t* eraseSize) override;
  bool flashVariantRequest(int* requestResult) override;
  uint32_t flashMinimumVersion() override;

 private:
  std::string mtdPath_;
  std::string flashPath_;
};

// The devices every query of the program goes to: the board's unless a test
// has put others in their place.
FlashDevices& flashDevices();

// Puts `devices` in place of the board's until the object is destroyed.
class ScopedFlashDevices {
 public:
  explicit ScopedFlashDevices(FlashDevices* devices);
  ~ScopedFlashDevices();
  ScopedFlashDevices(const ScopedFlashDevices&) = delete;
  ScopedFlashDevices& operator=(const ScopedFlashDevices&) = delete;

 private:
  FlashDevices* previous_;
};

// Erase block size of the flash whose file-system layout old system packages
// do not support.
constexpr uint32_t kLargeEraseSize = 0x40000;

// The first MTD device reports 256 KiB erase blocks.
bool hasLargeEraseBlocks();
// Bit 0x10 of the flash control device's variant request.
bool flashVariantBit();
