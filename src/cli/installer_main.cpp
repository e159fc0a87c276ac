#include "cli/installer_main.h"

#include "cli/command_line.h"
#include "cli/preparation.h"
#include "cli/run_modes.h"

int runInstaller(int argc, char** argv, FileSystem& fs) {
  RunOptions options;
  const Mode mode = parseCommandLine(argc, argv, options, stdout);
  // --commit and --cancel act on the tree the program was started in; the
  // other modes enter the root first, and the board's paths are then its own.
  const bool inPlace = mode == Mode::Commit || mode == Mode::Cancel || mode == Mode::Usage;
  if (!inPlace && !prepareRun(options)) return exitCode(ExitStatus::Failed);
  return exitCode(runMode(options, BoardPaths(fs)));
}
