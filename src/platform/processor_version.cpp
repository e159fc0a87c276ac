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

namespace {
const ProcessorVersion* gCurrent = nullptr;
}  // namespace

const ProcessorVersion& processorVersion() {
  static RunningProcessorVersion running;
  return gCurrent ? *gCurrent : running;
}

ScopedProcessorVersion::ScopedProcessorVersion(const ProcessorVersion* processor) : previous_(gCurrent) {
  gCurrent = processor;
}

ScopedProcessorVersion::~ScopedProcessorVersion() { gCurrent = previous_; }
