// The modes that act on a transaction saved by an earlier --safe run:
// --commit applies it, --cancel throws it away. Both first complete or clear
// what an interrupted run left, and change nothing when the manifest is
// damaged. Both speak straight to the console's file, whatever -q says.
#pragma once

#include "install/run_request.h"

// Loads /ram/MANIFEST (a missing one gives nothing to do), prints
// "finishing install... ", commits with the spinner and wipes its last
// character. The manifest stays in place. Done also when the run found the
// manifest's own commit interrupted after its journal was durable, and
// completed it; otherwise, with a message and nothing changed,
// DamagedManifest, CommitFailed or NoSpace, or CommitIncomplete when a
// journal stays for the next run.
RunReport runCommit(const RunRequest& request);

// Loads the manifest, deletes it and then the temporary files its run staged.
// Done, or with a message DamagedManifest (the manifest left in place),
// CancelFailed (the manifest or its files could not be deleted) or
// CommitIncomplete.
RunReport runCancel(const RunRequest& request);
