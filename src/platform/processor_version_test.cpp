#include "platform/processor_version.h"

#include <gtest/gtest.h>

#include <cstdlib>

// INSTALLER_EXPECTED_PVR is set by scripts/target-test for each emulated processor;
// elsewhere the stand-in register is read.
TEST(ProcessorVersion, RunningProcessorHasTheRegisterItIsExpectedToHave) {
  const char* text = std::getenv("INSTALLER_EXPECTED_PVR");
#if defined(__powerpc__) || defined(__PPC__)
  if (text == nullptr) GTEST_SKIP() << "INSTALLER_EXPECTED_PVR names no processor to compare with";
#endif
  char* end = nullptr;
  const unsigned long expected = text ? std::strtoul(text, &end, 0) : kStandInProcessorVersion;
  ASSERT_TRUE(text == nullptr || (*text != '\0' && *end == '\0')) << "INSTALLER_EXPECTED_PVR is no number: " << text;
  EXPECT_EQ(RunningProcessorVersion().read(), expected) << std::hex << "read 0x" << RunningProcessorVersion().read();
}
