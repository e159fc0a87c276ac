#include "install/run_report.h"

#include <cerrno>
#include <cstring>

#include "model/console.h"

std::string commitLeftMessage(const CommitFailure& failure) {
  return "could not finish commit: " + failure.path + ": " + std::strerror(failure.error) +
         ": the next run completes it";
}

RunOutcome writeLog(Repository& repository, const Postlog& log, RunOutcome outcome) {
  std::string failedPath;
  if (log.write(repository, &failedPath)) return outcome;
  reportError(repository, "could not write %s: %s", failedPath.c_str(), std::strerror(errno));
  return outcome == RunOutcome::Done ? RunOutcome::LogFailed : outcome;
}

RunOutcome commitRun(InstallRun& run, const char* noSpaceMessage) {
  CommitFailure failure;
  if (run.transaction.commit(false, &failure)) return RunOutcome::Done;
  if (failure.journalLeft) {
    reportError(run.repository, "%s", commitLeftMessage(failure).c_str());
    return RunOutcome::CommitIncomplete;
  }
  run.transaction.cancel();
  if (failure.error == ENOSPC && noSpaceMessage != nullptr) {
    reportError(run.repository, "%s", noSpaceMessage);
  } else {
    reportError(run.repository, "could not commit %s: %s", failure.path.c_str(), std::strerror(failure.error));
  }
  return failure.error == ENOSPC ? RunOutcome::NoSpace : RunOutcome::CommitFailed;
}
