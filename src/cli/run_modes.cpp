#include "cli/run_modes.h"

#include "apply/installed_packages.h"
#include "model/package_listing.h"
#include "model/repository.h"

int runModes(const RunOptions& options) {
  // The installed packages are known before any mode is chosen.
  Repository& repository = Repository::instance();
  loadInstalled(repository, options.quiet, options.architecture);

  // Show: the table of the installed packages, whatever -q says.
  if (options.showMode) {
    listPackages(repository);
    return 0;
  }
  return 0;
}
