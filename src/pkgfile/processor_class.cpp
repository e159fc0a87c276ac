#include "pkgfile/processor_class.h"

#include "platform/flash_devices.h"
#include "platform/processor_version.h"

namespace {

// Two e500v2 revisions (lowest 8 bits of the register ignored) come on boards
// of two kinds, told apart by the flash control device.
constexpr uint32_t kRevisionMask = 0xFFFFFF00u;
constexpr uint32_t kSharedRevisionA = 0x80211000u;
constexpr uint32_t kSharedRevisionB = 0x80212100u;

// Processor families, bits 16 to 23 of the register.
constexpr uint32_t kFamilyE500v1 = 0x20;
constexpr uint32_t kFamilyE500v2 = 0x21;
constexpr uint32_t kFamilyE300c1 = 0x83;
constexpr uint32_t kFamilyE300c2 = 0x84;
constexpr uint32_t kFamilyE300c3 = 0x85;
// The whole upper half of the register for the class-3 processor.
constexpr uint32_t kUpperHalfClass3 = 0x1302;

}  // namespace

int processorClass(uint32_t pvr, const std::function<bool()>& flashVariantBit) {
  const uint32_t family = (pvr >> 16) & 0xFF;
  // The shared e500v2 revisions: the variant bit decides.
  const uint32_t revision = pvr & kRevisionMask;
  if (revision == kSharedRevisionA || revision == kSharedRevisionB) {
    return flashVariantBit() ? 2 : 4;
  }
  // Every other e500.
  if (family == kFamilyE500v1 || family == kFamilyE500v2) return 2;
  // The e300 cores.
  if (family == kFamilyE300c1 || family == kFamilyE300c2 || family == kFamilyE300c3) return 1;
  // Matched on the upper half as a whole.
  if ((pvr >> 16) == kUpperHalfClass3) return 3;
  // Anything else.
  return kNoProcessorClass;
}

int processorClass(const ProcessorVersion& processor,
                   const std::function<bool()>& flashVariantBit) {
  return processorClass(processor.read(), flashVariantBit);
}

int boardProcessorClass() { return processorClass(processorVersion(), [] { return flashVariantBit(); }); }

bool recordFitsBoard(unsigned recordClass, int boardClass) {
  if (recordClass == 0) return true;
  return boardClass != kNoProcessorClass && recordClass == static_cast<unsigned>(boardClass);
}
