#include "cli/run_modes.h"

#include <unistd.h>

#include "cli/manifest_modes.h"
#include "cli/package_listing.h"
#include "database/installed_packages.h"
#include "install/cleanup_run.h"
#include "install/image_run.h"
#include "install/package_install.h"
#include "install/run_report.h"
#include "install/upgrade_run.h"
#include "model/console.h"
#include "model/repository.h"
#include "platform/file_source.h"

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
      return ExitStatus::Failed;
    case RunOutcome::ImageFileFailed:
      return ExitStatus::ImageFileFailed;
    case RunOutcome::StreamNotInstalled:
      return streamStatus(report.stream);
  }
  return ExitStatus::Failed;
}

// Recovers what an interrupted run left and loads the installed packages.
// False when a commit that cannot be completed holds the board half way: that
// is said by every run, and nothing new is staged over it.
bool openBoard(const RunOptions& options, const BoardPaths& board, Repository& repository) {
  // The board is in the old state or the new one before anything reads it.
  CommitFailure stuck;
  const bool recovered = recoverInterruptedRun(board, &stuck);
  repository.quiet = options.quiet;
  repository.architecture = options.architecture;
  if (!loadInstalled(repository, board)) reportWarning(repository, "could not open repo");
  if (!recovered) reportError(repository, "%s", commitLeftMessage(stuck).c_str());
  return recovered;
}

}  // namespace

ExitStatus runMode(const RunOptions& options, const BoardPaths& board) {
  Repository& repository = Repository::instance();
  switch (options.mode) {
    case Mode::Usage:
      printUsage(stdout);
      return ExitStatus::Ok;
    case Mode::Commit:
      return runCommitMode(board, stdout);
    case Mode::Cancel:
      return runCancelMode(board, stdout);
    case Mode::Show: {  // the table of the installed packages, whatever -q says
      const bool whole = openBoard(options, board, repository);
      listPackages(repository);
      return whole ? ExitStatus::Ok : ExitStatus::Failed;
    }
    case Mode::Cleanup:
      return openBoard(options, board, repository) ? exitStatus(runCleanup(repository, board)) : ExitStatus::Failed;
    case Mode::Image: {
      if (!openBoard(options, board, repository)) return ExitStatus::Failed;
      FileSource input(board.fs(), STDIN_FILENO);
      return exitStatus(runImage(repository, board, options.installFlags, &input));
    }
    case Mode::Upgrade:
      return openBoard(options, board, repository)
                 ? exitStatus(runUpgrade(repository, board, UpgradeOptions{options.installFlags, options.commitNow}))
                 : ExitStatus::Failed;
  }
  return ExitStatus::Failed;
}
