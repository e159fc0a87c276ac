#include "cli/run_modes.h"

int runModes(const RunOptions&) { return 0; }
