#include "cli/run_modes.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <ostream>
#include <string>

#include "platform/file_sink.h"
#include "install/flash_storage.h"
#include "install/installation_driver.h"
#include "database/installed_packages.h"
#include "install/postlog.h"
#include "staging/transaction.h"
#include "cli/package_listing.h"
#include "model/repository.h"
#include "platform/file_source.h"
#include "model/console.h"
#include "install/scheduled_actions.h"

namespace {

// Where image mode copies the stream while it is read; the doubled "/" names
// the same file as "/flash/var/pdb/image".
constexpr char kIncomingImagePath[] = "/flash/var/pdb//image";
constexpr char kIncomingImageSource[] = "/flash/var/pdb/image";
// Staged whenever an upgrade run changed anything.
constexpr char kChangedMarker[] = "/flash/PCKGS_CHANGED";

constexpr int kImageFileFailed = -1;
constexpr int kFailedStatus = 1;
constexpr int kNoSpaceStatus = 28;

// Messages of image mode that bypass the reporters: -q does not silence them
// and the post-install log does not keep them.
void printImageError(const char* text) { consoleStream() << "ERROR: " << text << '\n' << std::flush; }

// A commit that could not place every new file has changed nothing: its
// staged files go, and the reason is reported. Returns the exit status.
int reportCommitFailure(Repository& repository, Transaction& transaction, const CommitFailure& failure,
                        const char* noSpaceMessage) {
  transaction.cancel();
  if (failure.error == ENOSPC && noSpaceMessage != nullptr) {
    reportError(repository, "%s", noSpaceMessage);
  } else {
    reportError(repository, "could not commit %s: %s", failure.path.c_str(), std::strerror(failure.error));
  }
  return failure.error == ENOSPC ? kNoSpaceStatus : kFailedStatus;
}

// Cleanup: uninstall what nothing recent needs, committed at once whatever
// --safe said, and without a post-install log.
int runCleanup(Repository& repository) {
  Transaction transaction;
  cleanup(repository, transaction);
  CommitFailure failure;
  if (!transaction.commit(false, &failure)) return reportCommitFailure(repository, transaction, failure, nullptr);
  return 0;
}

// Image mode: one package or bundle read from standard input, kept whole as
// its stored image.
int runImageMode(Repository& repository, const RunOptions& options) {
  Transaction transaction;
  applyScheduledActions(repository, transaction, /*reporting=*/true);
  // The copy of the stream belongs to the run until it is placed.
  FileSink image(kIncomingImagePath);
  if (!transaction.noteTemporary(kIncomingImageSource) || !image.isOpen()) {
    transaction.cancel();
    printImageError("could not open image");
    return kImageFileFailed;
  }
  FileSource input(STDIN_FILENO);
  std::string databaseDirectory;
  bool bootImage = false;
  int result = installFromStream(repository, transaction, &input, options.installFlags | Upgrade, PreservedStates(),
                                 &image, &databaseDirectory, &bootImage);
  // A copy cut short would be kept as a broken stored image.
  if (!image.close() && result == kStreamInstalled) {
    printImageError("could not write image");
    result = kImageFileFailed;
  }
  if (result == kStreamInstalled && !databaseDirectory.empty()) {
    placeImage(transaction, kIncomingImageSource, databaseDirectory + "image", bootImage);
  } else {
    // A package that failed half-way must not reach flash: its files would
    // be unverified and the package it replaced would be gone. A package
    // without image part keeps no stored image.
    if (result != kStreamInstalled) transaction.cancel();
    unlink(kIncomingImageSource);
  }
  CommitFailure failure;
  if (!transaction.commit(false, &failure)) {
    unlink(kIncomingImageSource);
    result = reportCommitFailure(repository, transaction, failure, nullptr);
  }
  writePostlog(repository);
  return result;
}

// Upgrade mode: the package files of the package directories.
int runUpgradeMode(Repository& repository, const RunOptions& options) {
  Transaction transaction;
  applyScheduledActions(repository, transaction, /*reporting=*/true);
  runUpgrade(repository, transaction, options.installFlags | Upgrade);
  int status = 0;
  if (!hasEnoughSpace(transaction)) {
    reportError(repository, "not enough space for upgrade");
    transaction.cancel();
    status = kNoSpaceStatus;
  }
  if (!transaction.isEmpty()) {
    transaction.create(kChangedMarker, 1, 0).close();
    CommitFailure failure;
    if (options.commitNow) {
      if (!transaction.commit(false, &failure))
        status = reportCommitFailure(repository, transaction, failure, "not enough space for upgrade");
    } else if (!transaction.save(kManifestPath)) {
      // Unsaved, the staged changes could be neither committed nor cancelled
      // later: drop them now and say so.
      reportError(repository, "could not save %s", kManifestPath);
      transaction.cancel();
      status = 1;
    }
  }
  writePostlog(repository);
  return status;
}

}  // namespace

int runModes(const RunOptions& options) {
  // The board is in the old state or the new one before anything reads it.
  recoverInterruptedRun();
  // The installed packages are known before any mode is chosen.
  Repository& repository = Repository::instance();
  loadInstalled(repository, options.quiet, options.architecture);

  // Show: the table of the installed packages, whatever -q says.
  if (options.showMode) {
    listPackages(repository);
    return 0;
  }
  if (options.cleanupMode) return runCleanup(repository);
  if (options.fromStdin) return runImageMode(repository, options);
  return runUpgradeMode(repository, options);
}
