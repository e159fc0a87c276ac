// The modes that act on a transaction saved by an earlier --safe run:
// --commit applies it, --cancel throws it away. Both first complete or clear
// what an interrupted run left, and change nothing when the manifest is
// damaged.
#pragma once

#include <cstdio>
#include <string>

#include "cli/exit_status.h"
#include "model/board_paths.h"

// Loads /ram/MANIFEST (a missing one gives nothing to do), prints
// "finishing install... ", commits with the spinner and wipes its last
// character. The manifest stays in place. Returns Ok (also
// when the run found the manifest's own commit interrupted after its journal
// was durable, and completed it), or, with a message on `out` and nothing
// changed, Failed for a damaged manifest or a commit that failed, NoSpace for
// one that found no space.
ExitStatus runCommitMode(const BoardPaths& board, FILE* out);

// Loads the manifest, deletes the temporary files its run staged, drops it
// and deletes the manifest. Returns Ok, or Failed (with a message on `out`) for a
// damaged manifest, which is left in place.
ExitStatus runCancelMode(const BoardPaths& board, FILE* out);
