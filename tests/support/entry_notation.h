// A package's database entry as the files installer writes for it in
// /flash/var/pdb/NAME/, and back to the package notation, so that a scenario
// writes a whole new entry as one line: "entry 1.0 >lib:1.0 files=bin/app".
#pragma once

#include <map>
#include <string>

#include "support/state_notation.h"

// File name in the entry directory -> content, as installer writes them for
// a package that is not kept as a stored image.
std::map<std::string, std::string> entryFiles(const PackageState& state);

// The words after the name that give exactly these files (a build time of
// defaultBuildTime left out); false when no words give them.
bool entryWords(const std::string& name, const std::map<std::string, std::string>& files, uint32_t defaultBuildTime,
                std::string* words);
