// Runs a scenario on a scratch board of its own: its setup directives, then
// each run (installer with -r, installer inside the root, or pkgtool in this
// process) compared with what the scenario expects of it.
#pragma once

#include <string>
#include <vector>

#include "support/scenario_file.h"
#include "support/scenario_rewrite.h"
#include "support/scenario_setup.h"

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
