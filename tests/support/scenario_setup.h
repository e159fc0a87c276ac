// The directives of a scenario that set up its board before and between
// runs: installed packages, files, mounts, the manifest, the environment,
// and packages built, damaged and placed.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "support/board.h"
#include "support/package_shelf.h"
#include "support/scenario_file.h"
#include "support/tree_changes.h"

// What the steps of one scenario share.
struct ScenarioContext {
  Board board;
  PackageShelf shelf;
  std::map<std::string, std::string> placed;  // package name -> the board path it was put at
  // Set for every run; an empty value unsets. Runs start without the
  // variables installer reads, and pkgtool with a fixed SOURCE_DATE_EPOCH.
  std::map<std::string, std::optional<std::string>> environment = {
      {"arch", std::nullopt}, {"bootimage", std::nullopt}, {"SOURCE_DATE_EPOCH", std::string("1700000000")}};
  TemporaryNames temporaries;
};

struct ScenarioFailure {
  int line = 0;
  std::string message;
  bool unavailable = false;  // the machine cannot give what the step needs: skip
  bool rewritable = false;   // a run gave other results than expected
};

// Carries out one directive other than a run; false with *failure filled in.
bool applySetup(const Step& step, ScenarioContext& context, ScenarioFailure* failure);

// The words of a line with their escapes decoded and $KEY, $PUB (the
// development key pair) and $ROOT (the board's host path) replaced.
bool expandWords(const std::string& text, const ScenarioContext& context, std::vector<std::string>* words,
                 std::string* error);
// Host paths in output written back as $KEY, $PUB and $ROOT.
std::string hideHostPaths(const std::string& text, const ScenarioContext& context);
