// The upgrade run: the scheduled actions, then the package files of the
// package directories on flash installed in dependency order, their stored
// images placed, what was active enabled again, the space check, the commit
// (or the manifest of a --safe run) and the post-install log.
#pragma once

#include <string>

#include "install/run_request.h"

// The whole run on the board's installed packages, said on the console; a
// --safe run saves its transaction as /ram/MANIFEST instead of committing.
RunReport runUpgrade(const RunRequest& request);

// The board path of a package's stored image, cut to 127 characters.
std::string storedImagePath(const std::string& name);
