#include "support/scenario_runner.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <sstream>

#include "pkgtool/commands.h"
#include "support/scenario_text.h"

namespace {

bool fail(ScenarioFailure* failure, int line, const std::string& message) {
  failure->line = line;
  failure->message = message;
  return false;
}

// The offset of a "<<<" word, or npos.
size_t hereStringAt(const std::string& text) {
  for (size_t at = text.find("<<<"); at != std::string::npos; at = text.find("<<<", at + 1)) {
    const bool wordStart = at == 0 || text[at - 1] == ' ' || text[at - 1] == '\t';
    if (wordStart && (at + 3 == text.size() || text[at + 3] == ' ')) return at;
  }
  return std::string::npos;
}

// WORDS [< PACKAGE | <<< TEXT]
bool parseRunLine(const Step& step, ScenarioContext& context, std::vector<std::string>* args, std::string* input,
                  std::string* error) {
  const size_t here = hereStringAt(step.rest);
  ContentSpec text;
  if (here != std::string::npos &&
      (!parseInputContent(step.rest.size() > here + 4 ? step.rest.substr(here + 4) : std::string(), &text, error) ||
       !contentBytes(text, context.shelf.lookup(), input, error)))
    return false;
  if (!expandWords(step.rest.substr(0, here), context, args, error)) return false;
  if (args->size() >= 2 && (*args)[args->size() - 2] == "<") {
    const std::string* bytes = context.shelf.find(args->back());
    if (!bytes) return *error = "no package " + args->back() + " was built for standard input", false;
    *input = *bytes;
    args->resize(args->size() - 2);
  }
  return true;
}

RunInput runInput(const ScenarioContext& context, const std::string& standardInput) {
  RunInput input;
  input.standardInput = standardInput;
  for (const auto& [name, value] : context.environment) {
    if (value)
      input.setEnvironment.push_back({name, *value});
    else
      input.unsetEnvironment.push_back(name);
  }
  return input;
}

void setVariable(const std::string& name, const std::optional<std::string>& value) {
  if (value)
    ::setenv(name.c_str(), value->c_str(), 1);
  else
    ::unsetenv(name.c_str());
}

// pkgtool in this process, in the board's root with the scenario's variables.
RunResult runPkgtoolInRoot(const std::vector<std::string>& args, const ScenarioContext& context) {
  std::vector<std::pair<std::string, std::optional<std::string>>> saved;
  for (const auto& [name, value] : context.environment) {
    const char* old = std::getenv(name.c_str());
    saved.push_back({name, old ? std::optional<std::string>(old) : std::nullopt});
    setVariable(name, value);
  }
  std::vector<char> cwd(4096);
  RunResult result;
  if (::getcwd(cwd.data(), cwd.size()) && ::chdir(context.board.root().c_str()) == 0) {
    std::vector<std::string> words{"pkgtool"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(&word[0]);
    argv.push_back(nullptr);
    std::ostringstream out, err;
    result.status = runPkgtool(static_cast<int>(words.size()), argv.data(), out, err);
    result.out = out.str();
    result.err = err.str();
    if (::chdir(cwd.data()) != 0) result.status = -1;
  }
  for (const auto& [name, value] : saved) setVariable(name, value);
  return result;
}

}  // namespace

bool performRun(const Step& step, ScenarioContext& context, RunActual* actual, ScenarioFailure* failure) {
  std::vector<std::string> args;
  std::string input, error;
  if (!parseRunLine(step, context, &args, &input, &error)) return fail(failure, step.line, error);
  if (step.keyword == "pkgtool" && !input.empty()) return fail(failure, step.line, "pkgtool reads no standard input");
  const TreeSnapshot before = context.board.snapshot();
  context.temporaries.noteBefore(before);
  const RunResult result = step.keyword == "run"          ? context.board.runWithRoot(args, runInput(context, input))
                           : step.keyword == "run-inside" ? context.board.runInside(args, runInput(context, input))
                                                          : runPkgtoolInRoot(args, context);
  const TreeSnapshot after = context.board.snapshot();
  context.temporaries.noteAfter(after);
  actual->status = result.status;
  actual->out = context.temporaries.apply(hideHostPaths(result.out, context));
  actual->err = context.temporaries.apply(hideHostPaths(result.err, context));
  actual->changes = treeChanges(context.temporaries.apply(before), context.temporaries.apply(after));
  return true;
}

namespace {

// The actual changes as lines; a change that an expected line describes in
// a form that holds keeps that line as written.
std::vector<std::string> actualChangeLines(const Expected& expected, const RunActual& actual, PackageShelf& shelf) {
  const NamedPackages packages = shelf.named();
  std::vector<std::string> lines;
  for (const TreeChange& change : actual.changes) {
    std::string line;
    for (size_t i = 0; i < expected.changes.size() && line.empty(); ++i)
      if (changeMatches(expected.changes[i], change, shelf.lookup())) line = expected.changeLines[i].text;
    lines.push_back(line.empty() ? changeLine(change, packages) : line);
  }
  return lines;
}

// The expected change lines in the order of their paths, as changes come.
std::vector<std::string> expectedChangeLines(const Expected& expected) {
  std::vector<std::pair<std::string, std::string>> byPath;
  for (size_t i = 0; i < expected.changes.size(); ++i)
    byPath.push_back({expected.changes[i].path, expected.changeLines[i].text});
  std::stable_sort(byPath.begin(), byPath.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> lines;
  for (const auto& entry : byPath) lines.push_back(entry.second);
  return lines;
}

// The line of the first expected output line that differs, counted from the
// first; 0 when none is written.
int firstDifference(int first, const std::vector<std::string>& expected, const std::vector<std::string>& actual) {
  if (first == 0) return 0;
  size_t i = 0;
  while (i + 1 < expected.size() && i < actual.size() && expected[i] == actual[i]) ++i;
  return first + static_cast<int>(i);
}

// The line of the first expected change that did not come; else the first.
int firstMissingChange(const Expected& expected, const std::vector<std::string>& actual) {
  for (const ScenarioLine& line : expected.changeLines)
    if (std::find(actual.begin(), actual.end(), line.text) == actual.end()) return line.number;
  return expected.changeLines.empty() ? 0 : expected.changeLines[0].number;
}

void append(std::vector<std::string>* lines, const std::vector<std::string>& more) {
  lines->insert(lines->end(), more.begin(), more.end());
}

// Compares one run; its failures go to the outcome with the lines that
// would make it pass.
void compareRun(const Step& step, const RunActual& actual, PackageShelf& shelf, ScenarioOutcome* outcome) {
  const Expected& expected = step.expected;
  const std::string mark = expected.exactOutput ? "=" : "|";
  const std::string shown = expected.exactOutput ? actual.out : consoleView(actual.out);
  const std::vector<std::string> changes = actualChangeLines(expected, actual, shelf);
  const std::vector<std::string> expectedChanges = expectedChangeLines(expected);
  const std::string after = "after `" + step.keyword + (step.rest.empty() ? "" : " " + step.rest) + "` (line " +
                            std::to_string(step.line) + "): ";
  std::vector<ScenarioFailure> found;
  auto add = [&](int line, const std::string& message) {
    found.push_back({line ? line : step.line, after + message, false, true});
  };
  if (actual.status != expected.status)
    add(expected.statusLine,
        "status " + std::to_string(actual.status) + ", expected " + std::to_string(expected.status));
  const std::vector<std::string> output = outputLines(mark, shown), expectedOutput = outputLines(mark, expected.output);
  if (output != expectedOutput)
    add(firstDifference(expected.outputLine, expectedOutput, output),
        std::string("standard output") + (expected.exactOutput ? "" : " as the console shows it") + " differs:\n" +
            lineDiff(expectedOutput, output));
  const std::vector<std::string> errors = outputLines("!", actual.err),
                                 expectedErrors = outputLines("!", expected.errors);
  if (errors != expectedErrors)
    add(firstDifference(expected.errorsLine, expectedErrors, errors),
        "standard error differs:\n" + lineDiff(expectedErrors, errors));
  if (changes != expectedChanges)
    add(firstMissingChange(expected, changes), "the board's changes differ:\n" + lineDiff(expectedChanges, changes));
  if (found.empty()) {
    outcome->rewrites.push_back(std::nullopt);
    return;
  }
  std::vector<std::string> lines;
  if (actual.status != 0) lines.push_back("status " + std::to_string(actual.status));
  append(&lines, output);
  append(&lines, errors);
  append(&lines, changes);
  outcome->rewrites.push_back(lines);
  outcome->failures.insert(outcome->failures.end(), found.begin(), found.end());
}

bool rewriteWanted() {
  const char* value = std::getenv("INSTALLER_SCENARIO_REWRITE");
  return value && std::string(value) == "1";
}

}  // namespace

ScenarioOutcome runScenario(const Scenario& scenario, bool keepGoing) {
  ScenarioOutcome outcome;
  ScenarioContext context;
  if (!context.board.usable()) {
    outcome.skipped = true;
    outcome.skipReason = "no scratch board: " + context.board.whyUnusable();
    return outcome;
  }
  for (const Step& step : scenario.steps) {
    ScenarioFailure failure;
    RunActual actual;
    const bool done =
        isRunKeyword(step.keyword) ? performRun(step, context, &actual, &failure) : applySetup(step, context, &failure);
    if (!done && failure.unavailable) {
      outcome.skipped = true;
      outcome.skipReason = failure.message;
      return outcome;
    }
    if (!done) {
      outcome.failures.push_back(failure);
      return outcome;
    }
    if (!isRunKeyword(step.keyword)) continue;
    compareRun(step, actual, context.shelf, &outcome);
    if (outcome.rewrites.back() && !keepGoing) return outcome;
  }
  return outcome;
}

void checkScenario(const ScenarioFile& file, const Scenario& scenario) {
  if (!scenario.error.empty()) {
    ADD_FAILURE_AT(file.path.c_str(), scenario.errorLine) << scenario.error;
    return;
  }
  const bool rewriting = rewriteWanted();
  const ScenarioOutcome outcome = runScenario(scenario, rewriting);
  if (outcome.skipped) GTEST_SKIP() << outcome.skipReason;
  const bool onlyResults = std::all_of(outcome.failures.begin(), outcome.failures.end(),
                                       [](const ScenarioFailure& failure) { return failure.rewritable; });
  if (rewriting && onlyResults) {
    if (outcome.failures.empty()) return;
    std::string error;
    if (!rewriteScenarioFile(file.path, scenario.title, outcome.rewrites, &error)) ADD_FAILURE() << error;
    std::cout << file.path << ":" << scenario.line << ": rewrote " << scenario.title << "\n";
    return;
  }
  for (const ScenarioFailure& failure : outcome.failures)
    ADD_FAILURE_AT(file.path.c_str(), failure.line) << failure.message;
}
