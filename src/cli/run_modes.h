// The run modes after the preparation: show, cleanup, image and upgrade. They
// load the installed packages, run exactly one mode and return the exit
// status.
#pragma once

#include "cli/command_line.h"
#include "model/board_paths.h"

// Loads the installed packages, then runs the selected mode (show, cleanup,
// image, upgrade) and returns the exit status.
int runModes(const RunOptions& options, const BoardPaths& board);
