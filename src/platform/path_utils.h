// Path helpers of the file transaction: the directory part of a path and the
// creation of a directory together with its missing parents.
#pragma once

#include <string>
#include <vector>

#include "platform/file_system.h"

// The directory part of `path` after every trailing "/" is stripped, in the
// manner of POSIX dirname: "/flash/var/pdb/x/" gives "/flash/var/pdb",
// "/flash" gives "/", "image" gives "." and "/" gives ".".
std::string parentDir(const std::string& path);

// Makes the directory `path` (mode 0777 before the umask) and, when needed,
// its missing ancestors, appending to `made` (may be null) each directory it
// made, from the top down. A directory that cannot be made is not reported:
// it shows up as the failure of whatever is put into it next.
void makeDirs(FileSystem& fs, const std::string& path, std::vector<std::string>* made = nullptr);

// The last component of `path` (everything after its last "/").
std::string baseName(const std::string& path);

// Whether `path` lies below `base` (which ends in "/") and none of its
// components is "..".
bool liesBelow(const std::string& path, const std::string& base);

// Whether the directory `dir` is known to be missing once a way up from the
// directory `start` found every directory missing until `home`, its nearest
// existing ancestor: `dir` lies at or below a directory of that way. `home`
// is then the nearest existing ancestor of `dir` too, so that the
// directories of one new tree are asked about once.
bool missingBelow(const std::string& dir, const std::string& start, const std::string& home);
