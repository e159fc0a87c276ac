// The package files a scenario builds, kept by name: a name means the
// package of that name built last. Packages and bundles are made by pkgtool
// (in this process, with the development key and a fixed build time);
// unchecked ones by the package writer, to carry what pkgtool refuses.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "support/scenario_content.h"
#include "support/scratch_dir.h"
#include "support/tree_changes.h"

struct ShelfFile {
  std::string path;  // below the flash root, e.g. "bin/app"
  unsigned mode = 0644;
  std::string content;
};

class PackageShelf {
 public:
  // `options` are further words of `pkgtool build`.
  bool build(const std::string& name, const std::string& version, const std::vector<ShelfFile>& files,
             const std::vector<std::string>& options, std::string* error);
  // `pkgtool bundle` of the packages named, in that order.
  bool bundle(const std::string& name, const std::string& version, const std::vector<std::string>& members,
              const std::vector<std::string>& options, std::string* error);
  // A signed package whose file records are written as they are, names
  // included (a newline, "../"), past every check of pkgtool's.
  bool buildUnchecked(const std::string& name, const std::string& version, const std::vector<ShelfFile>& files,
                      std::string* error);

  // The bytes of the package built last under the name, or null.
  std::string* find(const std::string& name);
  PackageBytes lookup();
  NamedPackages named();

 private:
  ScratchDir scratch_;
  std::map<std::string, std::string> built_;
  int made_ = 0;
};
