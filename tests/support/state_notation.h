// One line of text for the packages of a board or of a planning case:
//   system 6.41; ppp 6.40 disabled >system; ospf 6.41 uninstall @routing; routing 6.41 bundle
// read into the records of a run. doc/scenarios.md lists every word.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "model/package.h"

// A version as installer prints it: "6.41", "6.40.1", "6.41beta3", "6.41rc2" (pkgtool's reading).
bool parseVersionText(const std::string& text, Version* version);
// The packages, separated by ";", of words separated by blanks; files get a leading "/". With `nest` a
// member goes into the last bundle of its name before it. A word that does not parse fails the running test.
std::vector<std::unique_ptr<Package>> makePackages(const std::string& text, bool nest = false);
