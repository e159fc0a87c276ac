// pkgtool plan against the runs it foretells: before every upgrade run of a
// scenario the plan is made on the same board, and the run must then say and
// do what the plan said: the same messages in the same order (so the same
// install order and verdicts), the same cancellation and space verdict.
#pragma once

#include <string>
#include <vector>

#include "support/scenario_file.h"

struct PlanAgreement {
  int upgradeRuns = 0;  // the runs a plan was made for
  bool skipped = false;  // the machine cannot give the board
  std::string skipReason;
  std::vector<std::string> disagreements;  // each with its scenario line
};

PlanAgreement checkPlansAgainstRuns(const Scenario& scenario);
