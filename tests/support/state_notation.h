// One line of text for the packages of a board or of a planning case:
//   system 6.41; ppp 6.40 disabled >system; ospf 6.41 uninstall @routing; routing 6.41 bundle
// read into plain descriptions or into the records of a run. tests/scenarios/README.md lists every word.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "model/package.h"

struct PackageState {
  std::string name;
  Version version = 0;
  uint32_t buildTime = 0;  // a placeholder has both 0xFFFFFFFF
  std::string disabled;    // "", "user" or "auto"
  bool enabledByUser = false;
  std::vector<Dependency> depends, provides, conflicts;
  std::string bundle;     // the bundle this package is a member of
  bool isBundle = false;  // a bundle's own entry, which has no files list
  std::string scheduled;  // "", "uninstall", "enable" or "disable"
  std::vector<std::string> files;
};

struct NotationError {
  size_t offset = 0;  // of the word at fault
  std::string what;
};

// Packages are separated by ";", words by blanks; built= defaults to defaultBuildTime.
bool parsePackageStates(const std::string& text, std::vector<PackageState>* states, NotationError* error,
                        uint32_t defaultBuildTime = 0);
// A version as installer prints it: "6.41", "6.40.1", "6.41beta3", "6.41rc2" (pkgtool's reading).
bool parseVersionText(const std::string& text, Version* version);
// The packages as a run's records, files with a leading "/"; with `nest` a member goes into the
// last bundle of its name before it. A text that does not parse fails the running test.
std::vector<std::unique_ptr<Package>> makePackages(const std::string& text, bool nest = false);
