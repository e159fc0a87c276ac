// The mode of a command line that is not understood: the usage line.
#pragma once

#include "install/run_request.h"

// Prints "usage: installer [-q] [-r <root>] [-]", whatever -q says.
RunReport runUsage(const RunRequest& request);
