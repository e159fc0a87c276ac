// The one dispatch of the run modes: each mode of the command line to the
// function that carries it out, and its outcome to the exit status.
#pragma once

#include <cstdio>

#include "cli/command_line.h"
#include "cli/exit_status.h"
#include "model/board_paths.h"

// Runs `options.mode` and returns its exit status. The modes that read the
// installed packages first complete or clear what an interrupted run left.
// Everything the run says goes to `out`.
ExitStatus runMode(const RunOptions& options, const BoardPaths& board, FILE* out = stdout);
