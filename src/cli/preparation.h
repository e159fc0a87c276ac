// Preparing a run once its command line has been read: entering the root
// directory, changing to "/", and taking the architecture.
#pragma once

#include <string>

#include "cli/command_line.h"

// chroot into `root` (nothing when it is empty). A failure is printed as
// "chroot: <reason>" on standard error and gives false.
bool enterRoot(const std::string& root);

// "i386", or the value of the environment variable "arch" when it is set,
// even when it is empty.
std::string architectureFromEnvironment();

// enterRoot, chdir("/"), architecture. False when the root could not be
// entered: the run must then stop before it loads or changes anything, since
// it would work on the wrong system.
bool prepareRun(RunOptions& options);
