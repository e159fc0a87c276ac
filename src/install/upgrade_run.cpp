#include "install/upgrade_run.h"

#include <sys/stat.h>

#include <set>
#include <vector>

#include "install/flash_storage.h"
#include "install/notices_told.h"
#include "install/package_install.h"
#include "install/scheduled_actions.h"
#include "model/relations.h"
#include "planning/candidates.h"
#include "platform/file_source.h"

namespace {

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
std::vector<Package*> packagesToEnableAgain(Repository& repository, const std::set<std::string>& activeNames) {
  const IndexedLookups lookups(repository);
  std::vector<Package*> enables;
  for (const std::string& name : activeNames) {
    Package* package = repository.findProvider(name);
    if (!package || !package->disabled || repository.findConflicting(*package)) continue;
    enables.push_back(package);
  }
  return enables;
}

// The candidates of the first package directory that has any, else of the second.
void collectUpgradeCandidates(InstallRun& run, CandidateList* candidates) {
  FileSystem& fs = run.board().fs();
  tell(run.console, collectCandidates(fs, run.board().at(kFirstPackageDirectory), candidates));
  if (!candidates->empty()) return;
  tell(run.console, collectCandidates(fs, run.board().at(kSecondPackageDirectory), candidates));
}

// Allows downgrades when the marker is there, and takes the marker away.
void takeDowngradeMarker(InstallRun& run) {
  const std::string marker = run.board().at(kDowngradeMarker);
  FileSystem& fs = run.board().fs();
  struct stat status;
  if (!fs.status(marker, &status)) return;
  run.permitted |= InstallFlags::Downgrade;
  fs.unlink(marker);
}

// Installs one candidate file. False when the run is to end: the file was
// refused for anything but its age, or failed.
bool installCandidate(InstallRun& run, const PackageFile& candidate) {
  // A candidate that is no longer a regular file, or cannot be opened, is
  // passed over.
  FileSource file = FileSource::regularFile(run.board().fs(), candidate.path);
  if (!file.isOpen()) return true;
  const InstallResult result = installFromStream(run, &file, nullptr);
  // Nothing to do for it, and warned about: typically an installed package
  // file still lying in the directory. It does not stop the others.
  if (result.outcome == InstallOutcome::NotNewer) return true;
  if (!isInstalled(result)) return false;
  if (candidate.hasImage)
    placeImage(run.transaction, candidate.path, run.board().at(storedImagePath(candidate.name)), result.bootImage);
  return true;
}

// The package files of the package directories, installed into the run's
// transaction; their stored images placed; what was active before enabled
// again. A package that is not newer than the installed one is passed over
// with its warning; any other package that is not installed (refused, or
// broken) cancels the whole transaction and ends the run: the set of
// packages asked for goes in whole or not at all. Loads `log` when there is
// anything to install.
void installCandidates(InstallRun& run, Postlog& log) {
  takeDowngradeMarker(run);
  CandidateList candidates;
  collectUpgradeCandidates(run, &candidates);
  tell(run.console, selectCandidates(&candidates, any(run.permitted, InstallFlags::Downgrade)));
  run.preservedStates = preservedStatesOf(run.repository);
  const std::set<std::string> activeNames = activeNamesOf(run.repository);
  if (!candidates.empty()) log.load(run.console);
  for (const auto& candidate : candidates) {
    if (!installCandidate(run, *candidate)) {
      run.transaction.cancel();
      return;
    }
  }
  enablePackages(run, packagesToEnableAgain(run.repository, activeNames));
  if (run.repository.packages.empty()) {
    run.console.reportError("router installation failed!!!");
    run.transaction.cancel();
  }
}

// The space check, the change marker, and the commit or the saved manifest.
RunOutcome finish(InstallRun& run, bool commitNow) {
  RunOutcome outcome = RunOutcome::Done;
  if (!hasEnoughSpace(run.transaction)) {
    run.console.reportError("not enough space for upgrade");
    run.transaction.cancel();
    outcome = RunOutcome::NoSpace;
  }
  if (run.transaction.isEmpty()) return outcome;
  // The programs that watch for the marker must learn of every change: a
  // marker that cannot be staged leaves the transaction unable to commit.
  const int marker = run.transaction.create(run.board().at(kChangedMarker), 1, 0);
  if (marker >= 0 && !run.board().fs().close(marker)) run.transaction.noteFailure(run.board().at(kChangedMarker));
  if (commitNow) return commitRun(run, "not enough space for upgrade");
  if (run.transaction.save(run.board().at(kManifestPath))) return outcome;
  // Unsaved, the staged changes could be neither committed nor cancelled
  // later: drop them now and say so.
  run.console.reportError("could not save %s", kManifestPath);
  run.transaction.cancel();
  return RunOutcome::SaveFailed;
}

}  // namespace

std::string storedImagePath(const std::string& name) {
  std::string path = kDatabaseDir + name + "/image";
  if (path.size() > kMaxImagePath) path.resize(kMaxImagePath);
  return path;
}

RunReport runUpgrade(const RunRequest& request) {
  if (!openBoard(request)) return RunReport(RunOutcome::CommitIncomplete);
  Transaction transaction(request.board);
  InstallRun run{request.repository, request.console, transaction, request.permitted | InstallFlags::Upgrade, {}};
  Postlog log(request.board);
  applyScheduledActions(run);
  installCandidates(run, log);
  return RunReport(writeLog(request.console, log, finish(run, request.commitNow)));
}
