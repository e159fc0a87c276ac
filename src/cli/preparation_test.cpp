#include "cli/preparation.h"

#include <cstdlib>

#include <gtest/gtest.h>

#include "support/scratch_dir.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

// Sets or unsets "arch" for one test and puts the old value back.
class ArchVariable {
 public:
  ArchVariable() {
    const char* old = std::getenv("arch");
    hadValue_ = old != nullptr;
    if (old) oldValue_ = old;
  }
  ~ArchVariable() {
    if (hadValue_) ::setenv("arch", oldValue_.c_str(), 1);
    else ::unsetenv("arch");
  }

 private:
  bool hadValue_;
  std::string oldValue_;
};

TEST(Preparation, ArchitectureComesFromTheEnvironmentEvenWhenEmpty) {
  ArchVariable restore;
  ::unsetenv("arch");
  EXPECT_EQ(architectureFromEnvironment(), "i386");
  ::setenv("arch", "", 1);
  EXPECT_EQ(architectureFromEnvironment(), "");
  ::setenv("arch", "powerpc", 1);
  EXPECT_EQ(architectureFromEnvironment(), "powerpc");
}

TEST(Preparation, AnEmptyRootIsNoChange) { EXPECT_TRUE(enterRoot("")); }

TEST(Preparation, ARootThatCannotBeEnteredIsReportedAndStopsTheRun) {
  ScratchDir scratch;
  RunOptions options;
  options.root = scratch / "missing";
  options.architecture = "unchanged";
  CaptureStderr();
  EXPECT_FALSE(prepareRun(options));
  std::string error = GetCapturedStderr();
  EXPECT_EQ(error.rfind("chroot: ", 0), 0u) << error;
  EXPECT_EQ(options.architecture, "unchanged") << "nothing after the chroot is done";
}

}  // namespace
