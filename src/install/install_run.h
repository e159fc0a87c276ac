// What every step of installing carries, and what it gives back: one value
// for the run's repository, console, transaction, permissions and the states
// the user chose, and one result with one outcome for a package, a bundle or
// a stream.
#pragma once

#include <map>
#include <string>

#include "install/console.h"
#include "model/install_flags.h"
#include "model/package.h"
#include "model/repository.h"
#include "staging/transaction.h"

// Package names whose state the user chose, each with its disabled flag: a
// new version of such a package takes over that state.
using PreservedStates = std::map<std::string, bool>;

struct InstallRun {
  Repository& repository;
  Console& console;
  Transaction& transaction;
  // The changes the run permits: Upgrade always, Downgrade and Reinstall on
  // request.
  InstallFlags permitted = InstallFlags::None;
  PreservedStates preservedStates;

  const BoardPaths& board() const { return transaction.board(); }
};

enum class InstallOutcome {
  Installed,         // unpacked and now in the repository
  Resumed,           // resume mode and the same version installed: reported, nothing changed
  Skipped,           // a bundle member left out; the installed package of its name is kept
  NotNewer,          // refused, nothing staged: the installed one is as new or newer
  Refused,           // refused, nothing staged: judging has said why
  Withdrawn,         // unpacked, but the plan afterwards uninstalled it again
  NothingInstalled,  // a bundle none of whose members was installed
  Unreadable,        // its header could not be read
  Broken,            // it failed while being installed; the transaction holds a partial install
};

struct InstallResult {
  InstallOutcome outcome = InstallOutcome::Unreadable;
  bool bundle = false;
  // The installed package, the installed one a resumed or skipped package
  // left in place, or null. Owned by the repository.
  Package* package = nullptr;
  // The database directory a package kept as a stored image goes to.
  std::string imageDirectory;
  // The package is to carry the boot image.
  bool bootImage = false;
};

// Whether the package or bundle of a stream is in place: installed, or
// reported as installed in resume mode.
inline bool isInstalled(const InstallResult& result) {
  return result.outcome == InstallOutcome::Installed || result.outcome == InstallOutcome::Resumed;
}
