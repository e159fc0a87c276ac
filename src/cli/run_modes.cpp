#include "cli/run_modes.h"

#include "apply/installed_packages.h"
#include "apply/transaction.h"
#include "model/package_listing.h"
#include "model/repository.h"
#include "planning/scheduled_actions.h"

namespace {

// Cleanup: uninstall what nothing recent needs, committed at once whatever
// --safe said, and without a post-install log.
int runCleanup(Repository& repository) {
  Transaction transaction;
  cleanup(repository, transaction);
  transaction.commit(false);
  return 0;
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
  return 0;
}
