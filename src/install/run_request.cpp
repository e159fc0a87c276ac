#include "install/run_request.h"

#include "database/installed_packages.h"

bool openBoard(const RunRequest& request) {
  // The board is in the old state or the new one before anything reads it.
  CommitFailure stuck;
  const bool recovered = recoverInterruptedRun(request.board, &stuck);
  request.repository.architecture = request.architecture;
  if (!loadInstalled(request.repository, request.board)) request.console.reportWarning("could not open repo");
  if (!recovered) request.console.reportError("%s", commitLeftMessage(stuck).c_str());
  return recovered;
}
