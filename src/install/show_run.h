// The `--show` mode: every package of the board as one fixed-width line, with
// its version, build time (UTC) and description.
#pragma once

#include "install/run_request.h"

// Opens the board and prints the header, the rule line and one line per
// package in the repository's order. Writes straight to the console's file,
// so quiet runs print it too; changes nothing but what an interrupted run
// left. A commit that holds the board half way is said, the table printed,
// and the outcome is CommitIncomplete.
RunReport runShow(const RunRequest& request);
