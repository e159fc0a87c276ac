#include "support/plan_agreement.h"

#include <cstdlib>
#include <set>
#include <sstream>

#include "cli/command_line.h"
#include "pkgtool/upgrade_plan.h"
#include "support/scenario_runner.h"
#include "support/scenario_text.h"
#include "support/scratch_dir.h"

namespace {

// The words of an upgrade run and what it permits, or false for any other run.
bool upgradeRun(const Step& step, const ScenarioContext& context, RunOptions* options) {
  if (step.keyword != "run" && step.keyword != "run-inside") return false;
  std::vector<std::string> words;
  std::string error;
  if (step.rest.find('<') != std::string::npos || !expandWords(step.rest, context, &words, &error)) return false;
  std::vector<const char*> argv{"installer"};
  for (const std::string& word : words) argv.push_back(word.c_str());
  std::ostringstream ignored;
  // A run on another root than the board's is no run on this board.
  return parseCommandLine(static_cast<int>(argv.size()), argv.data(), *options, ignored) == CommandAction::Run &&
         !options->fromStdin && !options->showMode && !options->cleanupMode && options->root.empty();
}

std::string architectureOf(const ScenarioContext& context) {
  const auto arch = context.environment.find("arch");
  return arch != context.environment.end() && arch->second ? *arch->second : "i386";
}

// Everything the plan says the run will say, in order.
std::vector<std::string> foretoldLines(const UpgradePlan& plan) {
  std::vector<std::string> lines = plan.scheduled;
  const CandidateRun& run = plan.candidates;
  lines.insert(lines.end(), run.selection.begin(), run.selection.end());
  for (const CandidateResult& candidate : run.packages)
    lines.insert(lines.end(), candidate.messages.begin(), candidate.messages.end());
  lines.insert(lines.end(), run.closing.begin(), run.closing.end());
  return lines;
}

// What the run said about its packages: without the words of --reinstall and
// of the commit that follows the plan's part.
std::vector<std::string> saidLines(const RunActual& actual, std::vector<std::string>* commitLines) {
  std::vector<std::string> lines;
  std::istringstream shown(consoleView(actual.out));
  for (std::string line; std::getline(shown, line);) {
    if (line.empty() || line == "Resuming upgrade...") continue;
    const bool commitLine = line == "ERROR: not enough space for upgrade" ||
                            line.rfind("ERROR: could not commit ", 0) == 0 ||
                            line.rfind("ERROR: could not save ", 0) == 0;
    (commitLine ? commitLines : &lines)->push_back(line);
  }
  return lines;
}

bool below(const std::string& path, const std::string& dir) { return path.compare(0, dir.size(), dir) == 0; }

// The names whose database entries the run changed.
std::set<std::string> changedEntries(const RunActual& actual) {
  const std::string database = "/flash/var/pdb/";
  std::set<std::string> names;
  for (const TreeChange& change : actual.changes) {
    if (!below(change.path, database)) continue;
    const size_t end = change.path.find('/', database.size());
    const std::string name = change.path.substr(database.size(), end - database.size());
    if (!name.empty()) names.insert(name);
  }
  return names;
}

std::string joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += "  " + line + "\n";
  return text;
}

std::string joined(const std::set<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += " " + name;
  return text.empty() ? " none" : text;
}

void compare(const UpgradePlan& plan, const RunOptions& options, const RunActual& actual, const std::string& where,
             std::vector<std::string>* disagreements) {
  auto disagree = [&](const std::string& what) { disagreements->push_back(where + what); };
  std::vector<std::string> commitLines;
  const std::vector<std::string> foretold = foretoldLines(plan), said = saidLines(actual, &commitLines);
  if (foretold != said && !options.quiet) disagree("the plan foretold\n" + joined(foretold) + "and the run said\n" + joined(said));
  const bool commitFailed = !commitLines.empty() && commitLines[0] != "ERROR: not enough space for upgrade";
  if ((actual.status == 28 && !commitFailed) == plan.space.enough)
    disagree("the plan's space check says " + std::string(plan.space.enough ? "enough" : "not enough") +
             ", and the run ended with " + std::to_string(actual.status));
  const bool changes = !plan.cancelled && plan.space.enough && !plan.nothingToDo;
  std::set<std::string> foretoldNames, changedNames = changedEntries(actual);
  for (const PlannedChange& change : plan.changes) foretoldNames.insert(change.name);
  if (!options.commitNow && !commitFailed) {
    bool saved = false;
    for (const TreeChange& change : actual.changes) saved |= change.path == "/ram/MANIFEST" && change.op != '-';
    if (saved != changes) disagree(std::string("the plan said the run ") + (changes ? "changes" : "changes nothing") +
                                   ", and --safe " + (saved ? "saved" : "saved no") + " manifest");
  } else if (options.commitNow && !commitFailed && foretoldNames != changedNames) {
    disagree("the plan changes the entries of" + joined(foretoldNames) + ", and the run changed" +
             joined(changedNames));
  }
}

}  // namespace

PlanAgreement checkPlansAgainstRuns(const Scenario& scenario) {
  PlanAgreement agreement;
  ScenarioContext context;
  if (!context.board.usable()) {
    agreement.skipped = true;
    agreement.skipReason = "no scratch board: " + context.board.whyUnusable();
    return agreement;
  }
  for (const Step& step : scenario.steps) {
    const std::string where = scenario.title + " (line " + std::to_string(step.line) + "): ";
    ScenarioFailure failure;
    RunOptions options;
    if (!isRunKeyword(step.keyword)) {
      if (applySetup(step, context, &failure)) continue;
      agreement.skipped = failure.unavailable;
      agreement.skipReason = failure.message;
      if (!failure.unavailable) agreement.disagreements.push_back(where + failure.message);
      return agreement;
    }
    std::optional<UpgradePlan> plan;
    if (upgradeRun(step, context, &options)) {
      ++agreement.upgradeRuns;
      ScratchDir scratch;
      const TreeSnapshot before = context.board.snapshot();
      plan = planUpgrade(BoardPaths(context.board.root()), options.installFlags, architectureOf(context),
                         scratch.path());
      if (context.board.snapshot() != before) agreement.disagreements.push_back(where + "the plan changed the board");
      if (!snapshotTree(scratch.path()).empty())
        agreement.disagreements.push_back(where + "the plan left files behind");
    }
    RunActual actual;
    if (!performRun(step, context, &actual, &failure)) {
      agreement.disagreements.push_back(where + failure.message);
      return agreement;
    }
    if (plan) compare(*plan, options, actual, where, &agreement.disagreements);
  }
  return agreement;
}
