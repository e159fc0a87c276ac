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
#include <vector>

struct UpgradeOptions {
  // What the command line permits besides upgrades: Downgrade, Reinstall.
  InstallFlags permitted = InstallFlags::None;
  // False for --safe: the transaction is saved as /ram/MANIFEST instead.
  bool commitNow = true;
};

// The whole run, on the installed packages already in the repository, said
// on the console.
RunReport runUpgrade(Repository& repository, Console& console, const BoardPaths& board, const UpgradeOptions& options);

// What became of one package file of an upgrade, in the order they are
// installed.
struct CandidateResult {
  std::string name;
  std::string title;  // the package (or bundle) and its version
  std::string path;
  bool keptAsImage = false;  // installed, and the file placed as its stored image
  bool reached = false;  // the run ended before it otherwise
  InstallResult result;
  // What the run said while it was installed.
  std::vector<std::string> messages;
};

// The whole of an upgrade's package files, with what the run said about them.
struct CandidateRun {
  std::vector<std::string> selection;  // said while choosing among the files
  std::vector<CandidateResult> packages;
  std::vector<std::string> closing;  // said after the last package
};

// The package files of the package directories, installed into the run's
// transaction; their stored images placed; what was active before enabled
// again. A package that is not newer than the installed one is passed over
// with its warning; any other package that is not installed (refused, or
// broken) cancels the whole transaction and ends the run: the set of
// packages asked for goes in whole or not at all. Loads `log` when there is
// anything to install. A dry run's transaction changes nothing outside it:
// the downgrade marker stays and the log is not touched.
CandidateRun installCandidates(InstallRun& run, Postlog& log);

// The board path of a package's stored image, cut to 127 characters.
std::string storedImagePath(const std::string& name);
