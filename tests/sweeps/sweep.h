// What the reliability sweeps share: how far they go (the CI setting, or the
// full long run with INSTALLER_SWEEP=full), the tally behind the one-line
// summary each prints, and the board states they compare.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "support/board.h"
#include "support/packaging_tool.h"
#include "support/tree_snapshot.h"

#define SKIP_WITHOUT_BOARD(board) \
  if (!(board).usable()) GTEST_SKIP() << "no scratch board: " << (board).whyUnusable()

// True when INSTALLER_SWEEP=full asks for the long run.
bool fullSweep();

// The outcomes of one sweep. "old" and "new" are the board states a run may
// end in; an outcome of another name is explained by the case (counted
// apart); "other" is a fault, which the test reports case by case.
class SweepTally {
 public:
  explicit SweepTally(std::string name) : name_(std::move(name)) {}
  // `detail` (may be empty) tells apart the ways of ending in one outcome,
  // such as the failure a run reported; the summary counts them.
  void count(const std::string& outcome, const std::string& detail = std::string()) {
    ++counts_[outcome];
    if (!detail.empty()) ++details_[outcome][detail];
  }
  int cases() const;
  int other() const { return counts_.count("other") ? counts_.at("other") : 0; }
  // "SWEEP tamper, bundle, upgrade: 904 cases, 732 old, 0 new, 172 explained
  // (part 18: stored image 60, ...), 0 other", on standard output.
  void print() const;

 private:
  std::string name_;
  std::map<std::string, int> counts_;
  std::map<std::string, std::map<std::string, int>> details_;
};

// The bytes of a package file that pkgtool builds from the recipe.
std::string packageBytes(const PackageRecipe& recipe);
// The bytes of a bundle of the packages pkgtool builds from the recipes; more
// words of `pkgtool bundle` in `options`.
std::string bundleBytes(const std::string& name, const std::string& version, const std::vector<PackageRecipe>& members,
                        const std::vector<std::string>& options = {});

RunInput standardInput(const std::string& bytes);

// A package installed earlier, known by its database entry (no dependencies),
// with its files below /flash (mode 0755).
bool installByEntry(const Board& board, const std::string& name, const std::string& version,
                    const std::vector<std::pair<std::string, std::string>>& files);

// The board without its post-install log: a run that is killed may leave it
// blanked, and the messages of a refused run are all it changes.
TreeSnapshot withoutPostlog(TreeSnapshot tree);

// Temporary files, journals and staging records left anywhere on the board.
std::vector<std::string> leftovers(const TreeSnapshot& tree);

// The staged files a saved manifest names have random names: each is named
// instead after the destination the manifest moves it to, in the manifest
// and in the tree, so that two saves of one transaction compare equal.
TreeSnapshot namedByDestination(TreeSnapshot tree);

// Writes a snapshot into the board's root (whose mounts are in place), so
// that every case of a sweep starts from the same state.
bool restoreSnapshot(const Board& board, const TreeSnapshot& tree);
