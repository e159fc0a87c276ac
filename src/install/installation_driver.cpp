#include "install/installation_driver.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <vector>

#include "install/flash_storage.h"
#include "install/postlog.h"
#include "staging/transaction.h"
#include "database/package_database.h"
#include "platform/file_source.h"
#include "pkgfile/package_stream.h"
#include "planning/candidates.h"
#include "model/console.h"
#include "install/scheduled_actions.h"
#include "platform/regular_file.h"

namespace {

// The parts an installing reader acts on, in the order it accepts them.
constexpr PartType kInstallParts[] = {
    kPackageHeaderPart, kBundleHeaderPart, kBundleMembersPart, kArchitecturePart, kDependsPart,
    kProvidesPart,      kConflictsPart,    kImagePart,         kFileContainerPart, kSignaturePart,
};

// Longest stored image path the board builds; longer ones are cut.
constexpr size_t kMaxImagePath = 127;

// The states the user chose, by name; the first package of a name wins.
PreservedStates preservedStatesOf(const Repository& repository) {
  PreservedStates states;
  for (const auto& package : repository.packages) {
    if (package->userForced) states.emplace(package->name, package->disabled);
  }
  return states;
}

// Every name under which an enabled package answers: its own and what it provides.
std::set<std::string> activeNamesOf(const Repository& repository) {
  std::set<std::string> names;
  for (const auto& package : repository.packages) {
    if (package->disabled) continue;
    names.insert(package->name);
    for (const Dependency& provided : package->provides) names.insert(provided.name);
  }
  return names;
}

// The packages to enable again: active before, disabled now, and not in
// conflict with an enabled package. A package reachable under several names
// is appended once for each of them, and so enabled and reported as often.
std::vector<Package*> packagesToEnableAgain(const Repository& repository, const std::set<std::string>& activeNames) {
  std::vector<Package*> enables;
  for (const std::string& name : activeNames) {
    Package* package = repository.findProvider(name);
    if (!package || !package->disabled || repository.findConflicting(*package)) continue;
    enables.push_back(package);
  }
  return enables;
}

// The candidates of the first package directory that has any, else of the second.
void collectUpgradeCandidates(Repository& repository, const std::string& root, CandidateList* candidates) {
  collectCandidates(repository, root + kFirstPackageDirectory, candidates);
  if (candidates->empty()) collectCandidates(repository, root + kSecondPackageDirectory, candidates);
}

// Allows downgrades when the marker is there, and takes the marker away.
void takeDowngradeMarker(InstallFlags& flags, const std::string& root) {
  const std::string marker = root + kDowngradeMarker;
  struct stat status;
  if (stat(marker.c_str(), &status) != 0) return;
  flags |= Downgrade;
  unlink(marker.c_str());
}

}  // namespace

std::string storedImagePath(const std::string& name) {
  std::string path = entryDirectory(name) + "image";
  if (path.size() > kMaxImagePath) path.resize(kMaxImagePath);
  return path;
}

int installFromStream(Repository& repository, Transaction& transaction, std::streambuf* input,
                      InstallFlags flags, const PreservedStates& preservedStates, std::streambuf* tee,
                      std::string* databaseDirectory, bool* bootImage, bool* notNewer, const std::string& root) {
  if (notNewer) *notNewer = false;
  // 1.
  PackageStream stream(input, /*hashing=*/true, tee);
  for (PartType type : kInstallParts) stream.acceptPart(type);
  // 2.
  stream.nextPart();
  // 3. A bundle.
  if (stream.partType() == kBundleHeaderPart) {
    return installBundle(repository, transaction, stream, flags, preservedStates, databaseDirectory, bootImage,
                         notNewer, root);
  }
  // 4. A single package.
  PackageOutcome outcome = PackageOutcome::Failed;
  Package* installed = installPackage(repository, transaction, stream, flags, preservedStates, nullptr,
                                      databaseDirectory, bootImage, &outcome, root);
  if (notNewer) *notNewer = outcome == PackageOutcome::NotNewer;
  return installed ? kStreamInstalled : kPackageNotInstalled;
}

void runUpgrade(Repository& repository, Transaction& transaction, InstallFlags flags, const std::string& root) {
  // 1.
  takeDowngradeMarker(flags, root);
  // 2.
  CandidateList candidates;
  collectUpgradeCandidates(repository, root, &candidates);
  // 3.
  selectCandidates(repository, &candidates, (flags & Downgrade) != 0, /*report=*/true);
  // 4.
  const PreservedStates preservedStates = preservedStatesOf(repository);
  const std::set<std::string> activeNames = activeNamesOf(repository);
  // 5.
  if (!candidates.empty()) loadPostlog(repository, root);
  // 6.
  for (const auto& candidate : candidates) {
    // A candidate that is no longer a regular file is passed over like one
    // that cannot be opened.
    if (!isRegularFile(candidate->path)) continue;
    FileSource file(candidate->path);
    if (!file.isOpen()) continue;
    bool bootImage = false;
    bool notNewer = false;
    const int result = installFromStream(repository, transaction, &file, flags, preservedStates, nullptr, nullptr,
                                         &bootImage, &notNewer, root);
    // Nothing to do for it, and warned about: typically an installed package
    // file still lying in the directory. It does not stop the others.
    if (notNewer) continue;
    if (result != kStreamInstalled) {
      transaction.cancel();
      return;
    }
    if (candidate->hasImage) {
      placeImage(transaction, candidate->path, root + storedImagePath(candidate->name), bootImage, root);
    }
  }
  // 7.
  enablePackages(repository, transaction, packagesToEnableAgain(repository, activeNames), /*reporting=*/true, root);
  // 8.
  if (repository.packages.empty()) {
    reportError(repository, "router installation failed!!!");
    transaction.cancel();
  }
}
