// pkgtool plan: what an upgrade run would do on a board now.
#include <cstdlib>

#include "pkgtool/board_query.h"
#include "pkgtool/command_support.h"
#include "pkgtool/commands.h"
#include "pkgtool/report_json.h"
#include "pkgtool/upgrade_plan.h"

namespace {

constexpr int kRunCancelled = 1;

struct CandidateVerdict {
  const char* text;  // as the plan prints it
  const char* word;  // in its JSON object
};

CandidateVerdict verdictOf(const CandidateResult& candidate) {
  if (!candidate.reached) return {"not reached", "not_reached"};
  switch (candidate.result.outcome) {
    case InstallOutcome::Installed:
      return {"install", "install"};
    case InstallOutcome::Resumed:
      return {"report as installed", "resume"};
    case InstallOutcome::NotNewer:
      return {"pass over", "pass_over"};
    case InstallOutcome::Refused:
      return {"refuse, cancelling the run", "refuse"};
    default:
      return {"fail, cancelling the run", "fail"};
  }
}

void printMessages(const std::vector<std::string>& messages, std::ostream& out) {
  for (const std::string& message : messages) out << "    " << message << "\n";
}

void printSpace(const char* name, const SpaceBudget& budget, int64_t before, std::ostream& out) {
  out << "  " << name << ": " << before << " blocks of " << budget.blockSize << " bytes free, " << budget.freeBlocks
      << " left after the changes\n";
}

// A board path as the board sees it, without the root it was reached through.
std::string onBoard(const std::string& path, const std::string& root) {
  return path.compare(0, root.size(), root) == 0 ? path.substr(root.size()) : path;
}

void printPlan(const UpgradePlan& plan, const std::string& root, std::ostream& out) {
  if (plan.interrupted) out << "note: an interrupted commit is completed first; this plan does not show it\n";
  if (!plan.scheduled.empty()) {
    out << "the scheduled actions say:\n";
    printMessages(plan.scheduled, out);
  }
  if (!plan.candidates.selection.empty()) {
    out << "choosing among the package files:\n";
    printMessages(plan.candidates.selection, out);
  }
  out << "package files, in install order:" << (plan.candidates.packages.empty() ? " none\n" : "\n");
  for (const CandidateResult& candidate : plan.candidates.packages) {
    out << "  " << verdictOf(candidate).text << " " << candidate.title << " (" << onBoard(candidate.path, root) << ")\n";
    printMessages(candidate.messages, out);
  }
  if (!plan.candidates.closing.empty()) {
    out << "then:\n";
    printMessages(plan.candidates.closing, out);
  }
  if (!plan.changes.empty()) out << "changes to the package database:\n";
  for (const PlannedChange& change : plan.changes) out << "  " << change.what << " " << change.title << "\n";
  out << "space (more than 16 blocks must stay free):\n";
  printSpace("/flash", plan.space.main, plan.space.mainFreeBefore, out);
  printSpace("/flash/boot", plan.space.boot, plan.space.bootFreeBefore, out);
  if (plan.cancelled) {
    out << "verdict: the run is cancelled; nothing changes but the post-install log"
        << (plan.space.enough ? "" : ", and the space check fails (status 28)") << "\n";
  } else if (!plan.space.enough) {
    out << "verdict: not enough space; nothing changes (status 28)\n";
  } else if (plan.nothingToDo) {
    out << "verdict: nothing to do\n";
  } else {
    out << "verdict: the changes are committed\n";
  }
}

// "installed disabled" as "installed_disabled", "stored image of" as "stored_image".
std::string changeWord(const std::string& what) {
  std::string word = what == "stored image of" ? "stored image" : what;
  for (char& c : word)
    if (c == ' ') c = '_';
  return word;
}

nlohmann::json spaceJson(const SpaceBudget& budget, int64_t before) {
  return {{"block_size", budget.blockSize}, {"free_before", before}, {"free_after", budget.freeBlocks}};
}

// The plan for scripts: what printPlan says, as one object.
nlohmann::json planJson(const UpgradePlan& plan, const std::string& root) {
  nlohmann::json packages = nlohmann::json::array(), changes = nlohmann::json::array();
  for (const CandidateResult& candidate : plan.candidates.packages) {
    packages.push_back({{"name", candidate.name},
                        {"title", candidate.title},
                        {"path", onBoard(candidate.path, root)},
                        {"verdict", verdictOf(candidate).word},
                        {"messages", candidate.messages}});
  }
  for (const PlannedChange& change : plan.changes)
    changes.push_back({{"change", changeWord(change.what)}, {"name", change.name}, {"title", change.title}});
  const char* verdict = plan.cancelled           ? "cancelled"
                        : !plan.space.enough     ? "no_space"
                        : plan.nothingToDo       ? "nothing_to_do"
                                                 : "commit";
  return {{"interrupted_commit", plan.interrupted},
          {"scheduled", plan.scheduled},
          {"selection", plan.candidates.selection},
          {"packages", packages},
          {"closing", plan.candidates.closing},
          {"changes", changes},
          {"space", {{"enough", plan.space.enough},
                     {"/flash", spaceJson(plan.space.main, plan.space.mainFreeBefore)},
                     {"/flash/boot", spaceJson(plan.space.boot, plan.space.bootFreeBefore)}}},
          {"verdict", verdict}};
}

}  // namespace

int runPlan(int argc, char** argv, std::ostream& out, std::ostream& err) {
  Arguments args(argc, argv, 0);
  std::string root = "/";
  InstallFlags permitted = InstallFlags::None;
  bool json = false;
  while (!args.done() && !args.failed()) {
    if (args.option("-r", &root) || args.separator()) continue;
    if (args.flag("--down")) {
      permitted |= InstallFlags::Downgrade;
    } else if (args.flag("--reinstall")) {
      permitted |= InstallFlags::Reinstall;
    } else if (args.flag("--json")) {
      json = true;
    } else {
      return unexpected(err, "plan", args);
    }
  }
  if (args.failed()) return usageError(err, "plan", args.error());
  const char* arch = std::getenv("arch");
  const char* tmp = std::getenv("TMPDIR");
  const std::string board = boardRoot(root);
  PosixFileSystem fs;
  const UpgradePlan plan = planUpgrade(BoardPaths(fs, board), permitted, arch ? arch : "i386", tmp && *tmp ? tmp : "/tmp");
  if (!plan.database) return failure(err, "plan", board + "/flash/var/pdb: no package database", kExitBroken);
  if (json) {
    out << jsonText(planJson(plan, board)) << "\n";
  } else {
    printPlan(plan, board, out);
  }
  return plan.cancelled || !plan.space.enough ? kRunCancelled : kExitOk;
}
