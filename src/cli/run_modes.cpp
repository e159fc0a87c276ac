#include "cli/run_modes.h"

#include <unistd.h>

#include "install/cleanup_run.h"
#include "install/image_run.h"
#include "install/manifest_runs.h"
#include "install/show_run.h"
#include "install/upgrade_run.h"
#include "install/usage_run.h"

namespace {

// What image mode's stream ends with: a single package that was not
// installed fails; a bundle tells a refusal from no member installed.
ExitStatus streamStatus(const InstallResult& result) {
  if (isInstalled(result)) return ExitStatus::Ok;
  if (!result.bundle) return ExitStatus::Failed;
  switch (result.outcome) {
    case InstallOutcome::NotNewer:
    case InstallOutcome::Refused:
      return ExitStatus::BundleRefused;
    case InstallOutcome::NothingInstalled:
      return ExitStatus::NoMemberInstalled;
    default:
      return ExitStatus::Failed;
  }
}

ExitStatus exitStatus(const RunReport& report) {
  switch (report.outcome) {
    case RunOutcome::Done:
      return ExitStatus::Ok;
    case RunOutcome::NoSpace:
      return ExitStatus::NoSpace;
    case RunOutcome::CommitFailed:
    case RunOutcome::CommitIncomplete:
    case RunOutcome::LogFailed:
    case RunOutcome::SaveFailed:
    case RunOutcome::DamagedManifest:
    case RunOutcome::CancelFailed:
      return ExitStatus::Failed;
    case RunOutcome::ImageFileFailed:
      return ExitStatus::ImageFileFailed;
    case RunOutcome::StreamNotInstalled:
      return streamStatus(report.stream);
  }
  return ExitStatus::Failed;
}

// The function of each mode.
RunFunction runFunction(Mode mode) {
  switch (mode) {
    case Mode::Commit:
      return runCommit;
    case Mode::Cancel:
      return runCancel;
    case Mode::Show:
      return runShow;
    case Mode::Cleanup:
      return runCleanup;
    case Mode::Image:
      return runImage;
    case Mode::Upgrade:
      return runUpgrade;
    case Mode::Usage:
      break;
  }
  return runUsage;
}

}  // namespace

ExitStatus runMode(const RunOptions& options, const BoardPaths& board, FILE* out) {
  Console console(out, options.quiet);
  const RunRequest request{Repository::instance(), console,           board,        options.architecture,
                           options.installFlags,   options.commitNow, STDIN_FILENO};
  return exitStatus(runFunction(options.mode)(request));
}
