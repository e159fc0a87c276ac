#include "cli/run_modes.h"

#include <unistd.h>

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

}  // namespace

int runModes(const RunOptions& options, const BoardPaths& board) {
  // The board is in the old state or the new one before anything reads it.
  CommitFailure stuck;
  const bool recovered = recoverInterruptedRun(board, &stuck);

  // The installed packages are known before any mode is chosen.
  Repository& repository = Repository::instance();
  repository.quiet = options.quiet;
  repository.architecture = options.architecture;
  if (!loadInstalled(repository, board)) reportWarning(repository, "could not open repo");
  // A commit that cannot be completed holds the board half way: it is said
  // by every run, and nothing new is staged over it.
  if (!recovered) reportError(repository, "%s", commitLeftMessage(stuck).c_str());

  // Show: the table of the installed packages, whatever -q says.
  if (options.showMode) {
    listPackages(repository);
    return recovered ? 0 : kFailedStatus;
  }
  if (!recovered) return kFailedStatus;
  if (options.cleanupMode) return exitStatus(runCleanup(repository, board));
  if (options.fromStdin) {
    FileSource input(board.fs(), STDIN_FILENO);
    return exitStatus(runImage(repository, board, options.installFlags, &input));
  }
  return exitStatus(runUpgrade(repository, board, UpgradeOptions{options.installFlags, options.commitNow}));
}
