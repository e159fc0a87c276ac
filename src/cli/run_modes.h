// The run modes after the preparation: show, cleanup, image and upgrade. They
// load the installed packages, run exactly one mode and return the exit
// status.
#pragma once

#include "cli/command_line.h"

// Loads the installed packages, then runs the selected mode. Show prints the
// table and ends with 0; the other modes end here with 0 until they arrive.
int runModes(const RunOptions& options);
