// The upgrade run: the scheduled actions, then the package files of the
// package directories on flash installed in dependency order, their stored
// images placed, what was active enabled again, the space check, the commit
// (or the manifest of a --safe run) and the post-install log.
#pragma once

#include "install/install_run.h"
#include "install/postlog.h"
#include "install/run_report.h"
#include "model/board_paths.h"

#include <string>

struct UpgradeOptions {
  // What the command line permits besides upgrades: Downgrade, Reinstall.
  InstallFlags permitted = InstallFlags::None;
  // False for --safe: the transaction is saved as /ram/MANIFEST instead.
  bool commitNow = true;
};

// The whole run, on the installed packages already in the repository, said
// on the console.
RunReport runUpgrade(Repository& repository, Console& console, const BoardPaths& board, const UpgradeOptions& options);

// The board path of a package's stored image, cut to 127 characters.
std::string storedImagePath(const std::string& name);
