#include "cli/installer_main.h"

#include "cli/command_line.h"
#include "cli/manifest_modes.h"
#include "cli/preparation.h"
#include "cli/run_modes.h"

int runInstaller(int argc, char** argv, FileSystem& fs) {
  RunOptions options;
  // --commit and --cancel act on the tree the program was started in.
  const BoardPaths board(fs);
  switch (parseCommandLine(argc, argv, options, stdout)) {
    case CommandAction::Commit:
      return runCommitMode(board, stdout);
    case CommandAction::Cancel:
      return runCancelMode(board, stdout);
    case CommandAction::Usage:
      printUsage(stdout);
      return 0;
    case CommandAction::Run:
      break;
  }
  if (!prepareRun(options)) return 1;
  // The run has entered its root: the board's paths are its own.
  return runModes(options, board);
}
