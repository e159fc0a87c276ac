// The changes a run makes to a board, between two whole-tree snapshots, and
// the one line each takes in a scenario file:
//   + /flash/bin/ 0755                        a directory was added ("/" ends it)
//   + /flash/bin/app 0755 "#!/bin/sh\n"       a file, with any content form
//   ~ /flash/replaced -> "/flash/bootimage"   a changed path, now a link
//   + /flash/pipe 0644 other                  a pipe, socket or device
//   - /flash/old-file                         a removed path, with all below it
//   + /flash/var/pdb/app/ 0755 entry 1.0 >lib:1.0 files=bin/app
//                                             a new database entry, its files
//                                             in the package notation
// Paths are escaped as contents are, blanks included.
#pragma once

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "support/scenario_content.h"
#include "support/tree_snapshot.h"

struct TreeChange {
  char op = '+';  // '+' added, '~' changed, '-' removed
  std::string path;
  TreeEntry entry;         // what is there after the run; for '-' what was there
  std::string entryWords;  // a new database entry: its files as package notation
};

// In path order; unchanged paths are left out, and so are the removals below
// a removed directory and the files of a new database entry that the
// package notation gives (their directory carries the notation).
std::vector<TreeChange> treeChanges(const TreeSnapshot& before, const TreeSnapshot& after);

using NamedPackages = std::vector<std::pair<std::string, const std::string*>>;
std::string changeLine(const TreeChange& change, const NamedPackages& packages);

struct ExpectedChange {
  char op = '+';
  std::string path;
  TreeEntry::Type type = TreeEntry::File;
  unsigned mode = 0;
  ContentSpec content;     // file content or link text
  std::string entryWords;  // a database entry: the package notation after its name
};

bool parseChangeLine(const std::string& line, ExpectedChange* change, std::string* error);
bool changeMatches(const ExpectedChange& expected, const TreeChange& actual, const PackageBytes& packages);

// The files a run stages are named by mkstemp ("tmp" and six random letters
// or digits), differently in every run. Names the run made are written
// tmp#1, tmp#2... in the order they first appear in the board's paths, in
// paths and contents alike; names the scenario wrote itself stay as they are.
class TemporaryNames {
 public:
  // Before a run: names on the board that no run made are the scenario's.
  void noteBefore(const TreeSnapshot& before);
  // After a run: names that are new get the next numbers.
  void noteAfter(const TreeSnapshot& after);

  TreeSnapshot apply(const TreeSnapshot& snapshot) const;
  std::string apply(const std::string& text) const;

 private:
  std::set<std::string> scenarios_;
  std::map<std::string, std::string> numbered_;
};
