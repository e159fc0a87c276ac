#include "install/run_report.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

std::string commitLeftMessage(const CommitFailure& failure) {
  if (failure.call != nullptr) fprintf(stderr, "%s: %s\n", failure.call, std::strerror(failure.error));
  return "could not finish commit: " + failure.path + ": " + std::strerror(failure.error) +
         ": the next run completes it";
}

RunOutcome writeLog(Console& console, const Postlog& log, RunOutcome outcome) {
  std::string failedPath;
  if (log.write(console, &failedPath)) return outcome;
  console.reportError("could not write %s: %s", failedPath.c_str(), std::strerror(errno));
  return outcome == RunOutcome::Done ? RunOutcome::LogFailed : outcome;
}

RunOutcome commitRun(InstallRun& run, const char* noSpaceMessage) {
  CommitFailure failure;
  if (run.transaction.commit(nullptr, &failure)) return RunOutcome::Done;
  if (failure.journalLeft) {
    run.console.reportError("%s", commitLeftMessage(failure).c_str());
    return RunOutcome::CommitIncomplete;
  }
  run.transaction.cancel();
  if (failure.error == ENOSPC && noSpaceMessage != nullptr) {
    run.console.reportError("%s", noSpaceMessage);
  } else {
    run.console.reportError("could not commit %s: %s", failure.path.c_str(), std::strerror(failure.error));
  }
  return failure.error == ENOSPC ? RunOutcome::NoSpace : RunOutcome::CommitFailed;
}
