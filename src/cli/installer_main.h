// The whole program behind main(): the command line read, the root entered
// and one mode run, every call on the board's files through `fs`.
#pragma once

#include "platform/file_system.h"

// Returns the exit status.
int runInstaller(int argc, char** argv, FileSystem& fs);
