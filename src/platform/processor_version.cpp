#include "platform/processor_version.h"

uint32_t RunningProcessorVersion::read() const {
#if defined(__powerpc__) || defined(__PPC__)
  uint32_t value;
  __asm__ __volatile__("mfpvr %0" : "=r"(value));
  return value;
#else
  return kStandInProcessorVersion;
#endif
}
