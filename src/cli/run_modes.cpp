#include "cli/run_modes.h"

#include <unistd.h>

#include "cli/manifest_modes.h"
#include "cli/package_listing.h"
#include "database/installed_packages.h"
#include "install/cleanup_run.h"
#include "install/console.h"
#include "install/image_run.h"
#include "install/package_install.h"
#include "install/run_report.h"
#include "install/upgrade_run.h"
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
bool openBoard(const RunOptions& options, const BoardPaths& board, Repository& repository, Console& console) {
  // The board is in the old state or the new one before anything reads it.
  CommitFailure stuck;
  const bool recovered = recoverInterruptedRun(board, &stuck);
  repository.architecture = options.architecture;
  if (!loadInstalled(repository, board)) console.reportWarning("could not open repo");
  if (!recovered) console.reportError("%s", commitLeftMessage(stuck).c_str());
  return recovered;
}

}  // namespace

ExitStatus runMode(const RunOptions& options, const BoardPaths& board, FILE* out) {
  Repository& repository = Repository::instance();
  Console console(out, options.quiet);
  switch (options.mode) {
    case Mode::Usage:
      printUsage(out);
      return ExitStatus::Ok;
    case Mode::Commit:
      return runCommitMode(board, out);
    case Mode::Cancel:
      return runCancelMode(board, out);
    case Mode::Show: {  // the table of the installed packages, whatever -q says
      const bool whole = openBoard(options, board, repository, console);
      listPackages(repository, out);
      return whole ? ExitStatus::Ok : ExitStatus::Failed;
    }
    case Mode::Cleanup:
      if (!openBoard(options, board, repository, console)) return ExitStatus::Failed;
      return exitStatus(runCleanup(repository, console, board));
    case Mode::Image: {
      if (!openBoard(options, board, repository, console)) return ExitStatus::Failed;
      FileSource input(board.fs(), STDIN_FILENO);
      return exitStatus(runImage(repository, console, board, options.installFlags, &input));
    }
    case Mode::Upgrade: {
      if (!openBoard(options, board, repository, console)) return ExitStatus::Failed;
      const UpgradeOptions upgrade{options.installFlags, options.commitNow};
      return exitStatus(runUpgrade(repository, console, board, upgrade));
    }
  }
  return ExitStatus::Failed;
}
