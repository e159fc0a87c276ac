// installer: the package manager of the board. One mode per run; progress
// and messages on standard output, the result as the exit status.

#include <iostream>

#include "cli/command_line.h"
#include "cli/manifest_modes.h"
#include "cli/preparation.h"
#include "cli/run_modes.h"

int main(int argc, char** argv) {
  RunOptions options;
  switch (parseCommandLine(argc, argv, options, std::cout)) {
    case CommandAction::Commit:
      return runCommitMode(BoardPaths(), std::cout);
    case CommandAction::Cancel:
      return runCancelMode(BoardPaths(), std::cout);
    case CommandAction::Usage:
      printUsage(std::cout);
      return 0;
    case CommandAction::Run:
      break;
  }
  if (!prepareRun(options)) return 1;
  return runModes(options);
}
