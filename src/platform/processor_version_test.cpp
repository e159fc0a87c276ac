#include "platform/processor_version.h"

#include <gtest/gtest.h>

// scripts/target-test sets INSTALLER_EXPECTED_PVR for each emulated processor; elsewhere the stand-in register is read.
TEST(ProcessorVersion, RunningProcessorHasTheRegisterItIsExpectedToHave) {
  const char* text = std::getenv("INSTALLER_EXPECTED_PVR");
#if defined(__powerpc__) || defined(__PPC__)
  if (text == nullptr) GTEST_SKIP() << "INSTALLER_EXPECTED_PVR names no processor to compare with";
#endif
  const unsigned long expected = text ? std::strtoul(text, nullptr, 0) : kStandInProcessorVersion;
  EXPECT_EQ(RunningProcessorVersion().read(), expected) << std::hex << "read 0x" << RunningProcessorVersion().read();
}
