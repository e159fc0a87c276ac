#include "install/cleanup_run.h"

#include "install/scheduled_actions.h"

RunReport runCleanup(const RunRequest& request) {
  if (!openBoard(request)) return RunReport(RunOutcome::CommitIncomplete);
  Transaction transaction(request.board);
  InstallRun run{request.repository, request.console, transaction, InstallFlags::None, {}};
  cleanup(run);
  return RunReport(commitRun(run));
}
