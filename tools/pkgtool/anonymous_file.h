// Files that have no name: made in $TMPDIR (or /tmp) and unlinked at once, so
// that they are gone with the process, whatever ends it.
#pragma once

#include <string>

// Opens a new file for reading and writing from `stem` (as "pkgtool-out"),
// and unlinks it. Returns its descriptor, or -1 with errno; `pattern` is
// where it was made, for messages.
int openAnonymousFile(const char* stem, std::string* pattern);
