// The modes that act on a transaction saved by an earlier --safe run:
// --commit applies it, --cancel throws it away. Both end the program with 0.
#pragma once

#include <ostream>
#include <string>

// Loads the manifest (a missing one gives nothing to do), prints
// "finishing install... ", commits with the spinner and wipes its last
// character. The manifest stays in place.
int runCommitMode(const std::string& manifestPath, std::ostream& out);

// Loads the manifest, deletes the temporary files its run staged, drops it
// and deletes the manifest.
int runCancelMode(const std::string& manifestPath);
