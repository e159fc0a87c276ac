// What an upgrade run would do on a board now, worked out by the installer's
// own code on a transaction that changes nothing: the scheduled actions, each
// package file's verdict in install order, what is uninstalled, disabled and
// enabled, and the space check.
#pragma once

#include <string>
#include <vector>

#include "install/flash_storage.h"
#include "install/upgrade_run.h"
#include "model/board_paths.h"

// A package whose database entry the run changes.
struct PlannedChange {
  // "uninstalled", "replaced", "disabled", "enabled", "installed", "installed disabled", "stored image of"
  std::string what;
  std::string name;
  std::string title;  // "replaced": the old title and the new
};

struct UpgradePlan {
  bool database = false;      // the board has a package database
  bool interrupted = false;   // a commit is to be completed first
  std::vector<std::string> scheduled;  // what the scheduled actions report
  CandidateRun candidates;
  std::vector<PlannedChange> changes;
  bool cancelled = false;     // the run would change nothing
  bool nothingToDo = false;
  SpaceCheck space{SpaceBudget(), SpaceBudget()};
};

// The plan of `installer -r ROOT` with the permitted changes (Downgrade,
// Reinstall) and the board's architecture. New content is staged in a
// directory of its own below `scratchDirectory`, removed afterwards.
UpgradePlan planUpgrade(const BoardPaths& board, InstallFlags permitted, const std::string& architecture,
                        const std::string& scratchDirectory);
