#include "cli/run_modes.h"

#include <unistd.h>

#include <fstream>
#include <ostream>
#include <string>

#include "apply/file_sink.h"
#include "apply/flash_storage.h"
#include "apply/installation_driver.h"
#include "apply/installed_packages.h"
#include "apply/postlog.h"
#include "apply/transaction.h"
#include "model/package_listing.h"
#include "model/repository.h"
#include "pkgfile/file_source.h"
#include "planning/console.h"
#include "planning/scheduled_actions.h"

namespace {

// Where image mode copies the stream while it is read; the doubled "/" names
// the same file as "/flash/var/pdb/image".
constexpr char kIncomingImagePath[] = "/flash/var/pdb//image";
constexpr char kIncomingImageSource[] = "/flash/var/pdb/image";
// Staged whenever an upgrade run changed anything.
constexpr char kChangedMarker[] = "/flash/PCKGS_CHANGED";

constexpr int kImageFileFailed = -1;
constexpr int kNoSpaceStatus = 28;

// Messages of image mode that bypass the reporters: -q does not silence them
// and the post-install log does not keep them.
void printImageError(const char* text) { consoleStream() << "ERROR: " << text << '\n' << std::flush; }

// Cleanup: uninstall what nothing recent needs, committed at once whatever
// --safe said, and without a post-install log.
int runCleanup(Repository& repository) {
  Transaction transaction;
  cleanup(repository, transaction);
  transaction.commit(false);
  return 0;
}

// Image mode: one package or bundle read from standard input, kept whole as
// its stored image.
int runImageMode(Repository& repository, const RunOptions& options) {
  // 1.
  Transaction transaction;
  applyScheduledActions(repository, transaction, /*reporting=*/true);
  // 2.
  FileSink image(kIncomingImagePath);
  if (!image.isOpen()) {
    printImageError("could not open image");
    return kImageFileFailed;
  }
  // 3.
  FileSource input(STDIN_FILENO);
  std::string databaseDirectory;
  bool bootImage = false;
  int result = installFromStream(repository, transaction, &input, options.installFlags | Upgrade, PreservedStates(),
                                 &image, &databaseDirectory, &bootImage);
  // 4. A copy cut short would be kept as a broken stored image.
  if (!image.close() && result == kStreamInstalled) {
    printImageError("could not write image");
    result = kImageFileFailed;
  }
  // 5.
  if (result == kStreamInstalled) {
    placeImage(transaction, kIncomingImageSource, databaseDirectory + "image", bootImage);
  } else {
    // A package that failed half-way must not reach flash: its files would
    // be unverified and the package it replaced would be gone.
    transaction.cancel();
    unlink(kIncomingImageSource);
  }
  // 6.
  transaction.commit(false);
  // 7.
  writePostlog(repository);
  // 8.
  return result;
}

// Upgrade mode: the package files of the package directories.
int runUpgradeMode(Repository& repository, const RunOptions& options) {
  // 1.
  Transaction transaction;
  applyScheduledActions(repository, transaction, /*reporting=*/true);
  // 2., 3.
  runUpgrade(repository, transaction, options.installFlags | Upgrade);
  // 4.
  int status = 0;
  if (!hasEnoughSpace(transaction)) {
    reportError(repository, "not enough space for upgrade");
    transaction.cancel();
    status = kNoSpaceStatus;
  }
  // 5.
  if (!transaction.isEmpty()) {
    transaction.create(kChangedMarker, 1, 0).close();
    if (options.commitNow) {
      transaction.commit(false);
    } else if (!transaction.save(kManifestPath)) {
      // Unsaved, the staged changes could be neither committed nor cancelled
      // later: drop them now and say so.
      reportError(repository, "could not save %s", kManifestPath);
      transaction.cancel();
      status = 1;
    }
  }
  // 6.
  writePostlog(repository);
  // 7.
  return status;
}

}  // namespace

int runModes(const RunOptions& options) {
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
