// The rule for the names of installed files: a file record's name, and each
// line of a package's `files` list, names a file below the flash root.
#pragma once

#include <string>

// Whether `name` names a file below the flash root and never climbs out of
// it. Refused: the empty name; a NUL byte (the system would cut the path
// there); a newline (the `files` list keeps one name per line, so the name
// would read back as two other files); a ".." component; a last component
// that is empty or "." (a directory, never a file).
bool isSafeRecordName(const std::string& name);
