// What every run mode is given, and the one shape of a run mode: the board
// and its packages, the console it speaks on, and what the command line
// asked for, in; what became of the run, out.
#pragma once

#include <string>

#include "install/console.h"
#include "install/run_report.h"
#include "model/board_paths.h"
#include "model/install_flags.h"
#include "model/repository.h"

struct RunRequest {
  Repository& repository;
  Console& console;
  const BoardPaths& board;
  std::string architecture;                     // of the board, for judging packages
  InstallFlags permitted = InstallFlags::None;  // besides upgrades: Downgrade, Reinstall
  bool commitNow = true;                        // false for --safe: the transaction is saved instead
  int input = -1;                               // image mode's stream
};

using RunFunction = RunReport (*)(const RunRequest& request);

// Completes or clears what an interrupted run left and loads the installed
// packages. False when a commit that cannot be completed holds the board half
// way: that is said by every run, and nothing new is staged over it.
bool openBoard(const RunRequest& request);
