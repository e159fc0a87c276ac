#include "install/cleanup_run.h"

#include "install/scheduled_actions.h"

RunReport runCleanup(Repository& repository, Console& console, const BoardPaths& board) {
  Transaction transaction(board);
  InstallRun run{repository, console, transaction, InstallFlags::None, {}};
  cleanup(run);
  RunReport report;
  report.outcome = commitRun(run);
  return report;
}
