#include "install/cleanup_run.h"

#include "install/scheduled_actions.h"

RunReport runCleanup(Repository& repository, const BoardPaths& board) {
  Transaction transaction(board);
  InstallRun run{repository, transaction, InstallFlags::None, {}};
  cleanup(run);
  RunReport report;
  report.outcome = commitRun(run);
  return report;
}
