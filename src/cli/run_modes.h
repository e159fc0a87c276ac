// The run modes after the preparation: show, cleanup, image and upgrade. They
// load the installed packages, run exactly one mode and return the exit
// status.
#pragma once

#include "cli/command_line.h"

// For now every run ends here with status 0; loading the installed packages
// and the modes themselves come next.
int runModes(const RunOptions& options);
