#include "pkgtool/upgrade_plan.h"

#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <cstdio>

#include "database/installed_packages.h"
#include "install/console.h"
#include "install/flash_storage.h"
#include "install/scheduled_actions.h"
#include "model/relations.h"

namespace {

// Each installed package by name (the first of a name), as title and state.
std::map<std::string, std::pair<std::string, bool>> statesOf(const Repository& repository) {
  std::map<std::string, std::pair<std::string, bool>> states;
  for (const auto& package : repository.packages) {
    if (package->name.empty()) continue;
    states.emplace(package->name, std::make_pair(packageTitle(*package), package->disabled));
  }
  return states;
}

std::vector<PlannedChange> changesBetween(const Repository& before, const Repository& after) {
  std::vector<PlannedChange> changes;
  const auto old = statesOf(before);
  const auto now = statesOf(after);
  for (const auto& [name, state] : old) {
    const auto kept = now.find(name);
    if (kept == now.end()) {
      changes.push_back({"uninstalled", name, state.first});
    } else if (kept->second.first != state.first) {
      changes.push_back({"replaced", name, state.first + " by " + kept->second.first});
    } else if (kept->second.second != state.second) {
      changes.push_back({kept->second.second ? "disabled" : "enabled", name, state.first});
    }
  }
  for (const auto& [name, state] : now)
    if (old.count(name) == 0) changes.push_back({state.second ? "installed disabled" : "installed", name, state.first});
  return changes;
}

// Whether the run stages anything at or below the package's database entry:
// a package installed without one (unregistered) changes no entry.
bool touchesEntry(const Transaction& transaction, const std::string& name) {
  std::string entry = transaction.board().entryDirectory(name);
  entry.pop_back();
  for (const auto& op : transaction) {
    const std::string& path = op.first;
    if (path.compare(0, entry.size(), entry) == 0 && (path.size() == entry.size() || path[entry.size()] == '/'))
      return true;
  }
  return false;
}

bool runEnded(const std::vector<CandidateResult>& candidates) {
  for (const CandidateResult& candidate : candidates)
    if (candidate.reached && candidate.result.outcome != InstallOutcome::NotNewer && !isInstalled(candidate.result))
      return true;
  return false;
}

}  // namespace

UpgradePlan planUpgrade(const BoardPaths& board, InstallFlags permitted, const std::string& architecture,
                        const std::string& scratchDirectory) {
  UpgradePlan plan;
  struct stat info;
  plan.interrupted = ::lstat(board.at(kJournalPath).c_str(), &info) == 0;
  // The run's console lines are not the plan's: they go nowhere.
  static FILE* const nowhere = fopen("/dev/null", "w");
  Console console(nowhere);
  Repository repository, before;
  for (Repository* loaded : {&repository, &before}) {
    loaded->architecture = architecture;
    plan.database = loadInstalled(*loaded, board);
  }
  if (!plan.database) console.reportWarning("could not open repo");

  std::string scratch = scratchDirectory + "/pkgtool-plan-XXXXXX";
  if (::mkdtemp(&scratch[0]) == nullptr) return plan;
  {
    Transaction transaction = Transaction::dryRun(board, scratch);
    InstallRun run{repository, console, transaction, permitted | InstallFlags::Upgrade, {}};
    // The run's own messages on the console; the plan tells them apart.
    Postlog log(board);
    applyScheduledActions(run);
    plan.scheduled = console.messages();
    plan.candidates = installCandidates(run, log);
    plan.cancelled = runEnded(plan.candidates.packages) || repository.packages.empty();
    plan.nothingToDo = transaction.isEmpty();
    // A cancelled run checks the space of what is left to do, nothing.
    plan.space = checkSpace(transaction);
    if (!plan.cancelled && plan.space.enough) {
      for (const PlannedChange& change : changesBetween(before, repository))
        if (touchesEntry(transaction, change.name)) plan.changes.push_back(change);
      for (const CandidateResult& candidate : plan.candidates.packages)
        if (candidate.keptAsImage) plan.changes.push_back({"stored image of", candidate.name, candidate.title});
    }
    transaction.cancel();
  }
  ::rmdir(scratch.c_str());
  return plan;
}
