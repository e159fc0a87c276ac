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

constexpr int kImageFileFailedStatus = -1;  // 255 to the parent
constexpr int kFailedStatus = 1;
constexpr int kNoSpaceStatus = 28;  // the value of ENOSPC

int exitStatus(const RunReport& report) {
  switch (report.outcome) {
    case RunOutcome::Done:
      return 0;
    case RunOutcome::NoSpace:
      return kNoSpaceStatus;
    case RunOutcome::CommitFailed:
    case RunOutcome::CommitIncomplete:
    case RunOutcome::LogFailed:
    case RunOutcome::SaveFailed:
      return kFailedStatus;
    case RunOutcome::ImageFileFailed:
      return kImageFileFailedStatus;
    case RunOutcome::StreamNotInstalled:
      return streamStatus(report.stream);
  }
  return kFailedStatus;
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

int runMode(const RunOptions& options, const BoardPaths& board) {
  Repository& repository = Repository::instance();
  switch (options.mode) {
    case Mode::Usage:
      printUsage(stdout);
      return 0;
    case Mode::Commit:
      return runCommitMode(board, stdout);
    case Mode::Cancel:
      return runCancelMode(board, stdout);
    case Mode::Show: {  // the table of the installed packages, whatever -q says
      const bool whole = openBoard(options, board, repository);
      listPackages(repository);
      return whole ? 0 : kFailedStatus;
    }
    case Mode::Cleanup:
      return openBoard(options, board, repository) ? exitStatus(runCleanup(repository, board)) : kFailedStatus;
    case Mode::Image: {
      if (!openBoard(options, board, repository)) return kFailedStatus;
      FileSource input(board.fs(), STDIN_FILENO);
      return exitStatus(runImage(repository, board, options.installFlags, &input));
    }
    case Mode::Upgrade:
      return openBoard(options, board, repository)
                 ? exitStatus(runUpgrade(repository, board, UpgradeOptions{options.installFlags, options.commitNow}))
                 : kFailedStatus;
  }
  return kFailedStatus;
}
