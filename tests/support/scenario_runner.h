// Runs a scenario on a scratch board of its own: its setup directives, then
// each run (installer with -r, installer inside the root, or pkgtool in this
// process) compared with what the scenario expects of it.
#pragma once

#include <string>
#include <vector>

#include "support/scenario_file.h"
#include "support/scenario_rewrite.h"
#include "support/scenario_setup.h"

// What one run gave: its temporaries named tmp#1, tmp#2..., host paths hidden.
struct RunActual {
  int status = -1;
  std::string out;
  std::string err;
  std::vector<TreeChange> changes;
};

// Carries out a run step on the scenario's board; false with *failure filled
// in when its line cannot be read.
bool performRun(const Step& step, ScenarioContext& context, RunActual* actual, ScenarioFailure* failure);

struct ScenarioOutcome {
  bool skipped = false;  // the machine cannot give the board or a mount
  std::string skipReason;
  std::vector<ScenarioFailure> failures;
  // One per run carried out: the expected lines that would make it pass, or
  // nothing when it passed.
  RunRewrites rewrites;
};

// Stops after the first run that gives other results, unless keepGoing.
ScenarioOutcome runScenario(const Scenario& scenario, bool keepGoing);

// The GoogleTest body of one block: a failure at file:line for each fault,
// a skip where the machine has no board, or with INSTALLER_SCENARIO_REWRITE=1
// the block's expected lines rewritten from its runs.
void checkScenario(const ScenarioFile& file, const Scenario& scenario);
