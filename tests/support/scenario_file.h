// Scenario files (tests/scenarios/*.scn): blocks that set up a scratch board,
// run installer or pkgtool on it, and say what each run must give. This is
// their reading into steps; tests/scenarios/README.md describes the format.
#pragma once

#include <string>
#include <vector>

#include "support/tree_changes.h"

struct ScenarioLine {
  int number = 0;
  std::string text;
};

// What one run must give, from the lines that follow it. Nothing written
// means status 0, no output and no change to the board.
struct Expected {
  int status = 0;
  bool exactOutput = false;  // "=" lines: byte for byte; "|" lines: as the console shows it
  std::string output;
  std::string errors;
  std::vector<ExpectedChange> changes;
  std::vector<ScenarioLine> changeLines;  // as written, parallel to changes
  int firstLine = 0;                      // the expected lines; 0 when there are none
  int lastLine = 0;
  int statusLine = 0, outputLine = 0, errorsLine = 0;  // the first of each kind; 0 when there is none
};

struct Step {
  int line = 0;
  std::string keyword;             // "package", "run", ...
  std::string rest;                // the line after the keyword
  size_t restColumn = 0;           // where rest starts in the line, from 1
  std::vector<ScenarioLine> body;  // the indented lines below it
  Expected expected;               // runs only
};

struct Scenario {
  std::string title;  // a GoogleTest name: letters, digits, "_"
  int line = 0;
  std::vector<Step> steps;
  int errorLine = 0;  // the first fault of the block, if any
  std::string error;
};

struct ScenarioFile {
  std::string path;
  std::string suite;  // the file's name without ".scn"
  std::vector<Scenario> scenarios;
  int errorLine = 0;  // a fault outside every block (or of a title)
  std::string error;
};

ScenarioFile parseScenarioFile(const std::string& path, const std::string& text);

// run, run-inside, pkgtool.
bool isRunKeyword(const std::string& keyword);
