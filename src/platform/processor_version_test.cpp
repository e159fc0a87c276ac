#include "platform/processor_version.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

// The register value the processor running this test must have, from
// INSTALLER_EXPECTED_PVR (scripts/target-test sets it for each emulated
// processor); false when the variable is not set.
bool expectedRegister(uint32_t* value) {
  const char* text = std::getenv("INSTALLER_EXPECTED_PVR");
  if (text == nullptr) return false;
  char* end = nullptr;
  const unsigned long parsed = std::strtoul(text, &end, 0);
  EXPECT_TRUE(*text != '\0' && *end == '\0' && parsed <= 0xFFFFFFFFul)
      << "INSTALLER_EXPECTED_PVR is not a 32-bit number: " << text;
  *value = static_cast<uint32_t>(parsed);
  return true;
}

TEST(ProcessorVersion, RunningProcessorHasTheRegisterItIsExpectedToHave) {
  uint32_t expected = 0;
  if (!expectedRegister(&expected)) {
#if defined(__powerpc__) || defined(__PPC__)
    GTEST_SKIP() << "INSTALLER_EXPECTED_PVR names no processor to compare with";
#else
    expected = kStandInProcessorVersion;
#endif
  }
  EXPECT_EQ(RunningProcessorVersion().read(), expected)
      << std::hex << "read 0x" << RunningProcessorVersion().read() << ", expected 0x" << expected;
}

}  // namespace
