#include "install/scheduled_actions.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "model/console.h"
#include "staging/transaction.h"
#include "support/scratch_dir.h"

namespace {

const Version k10 = makeVersion(1, 0, 'f', 0);

using Names = std::vector<std::string>;

Dependency dep(const std::string& name, Version min = 0) {
  Dependency d;
  d.name = name;
  d.min = min;
  return d;
}

// A scratch board with installed packages whose entries exist on disk, and
// the console captured.
class ScheduledActions : public ::testing::Test {
 protected:
  ScheduledActions() : transaction(BoardPaths(scratch.path())) {
    writeFile(scratch / "ram/.keep", "");
    repository.console = &console;
  }

  Package& add(const std::string& name, bool disabled = false, PackageAction action = PackageAction::None,
               std::vector<Dependency> depends = {}) {
    auto package = std::make_unique<Package>(name);
    package->version = k10;
    package->buildTime = 100;
    package->disabled = disabled;
    package->action = action;
    package->depends = std::move(depends);
    package->files = {"/bin/" + name};
    writeFile(at("/flash/bin/" + name), name);
    writeFile(at("/flash/var/pdb/" + name + "/version"), "16777216 100\n");
    if (disabled) writeFile(at("/flash/var/pdb/" + name + "/disabled"), "auto\n");
    repository.packages.push_back(std::move(package));
    return *repository.packages.back();
  }

  std::string at(const std::string& path) const { return scratch.path() + path; }

  Names left() const {
    Names names;
    for (const auto& package : repository.packages) names.push_back(package->name);
    return names;
  }

  ScratchDir scratch;
  Repository repository;
  Transaction transaction;
  InstallRun run{repository, transaction, InstallFlags::None, {}};
  std::ostringstream console;
};

TEST_F(ScheduledActions, EmptyRepositoryChangesNothing) {
  EXPECT_FALSE(applyScheduledActions(run, true));
  EXPECT_TRUE(transaction.isEmpty());
  EXPECT_EQ(console.str(), "");
}

TEST_F(ScheduledActions, DisablesUninstallsAndEnablesWithTheirMessages) {
  Package& a = add("a", false, PackageAction::Disable);
  a.userForced = true;
  add("b", false, PackageAction::Uninstall);
  add("c");
  Package& d = add("d", true, PackageAction::Enable);
  d.userForced = true;

  EXPECT_TRUE(applyScheduledActions(run, true));

  EXPECT_EQ(repository.messages, (Names{"disabled a-1.0", "enabled d-1.0"}));
  EXPECT_EQ(left(), (Names{"a", "c", "d"}));
  EXPECT_TRUE(a.disabled);
  EXPECT_FALSE(d.disabled);
  for (const auto& package : repository.packages) EXPECT_EQ(package->action, PackageAction::None) << package->name;
  EXPECT_EQ(console.str(),
            "\x1b[?25l\rdisabling a-1.0...\r\x1b[?25h"
            "\x1b[?25l\r                  \r\x1b[?25h"
            "disabled a-1.0\n"
            "\x1b[?25l\renabling d-1.0...\r\x1b[?25h"
            "\x1b[?25l\r                 \r\x1b[?25h"
            "enabled d-1.0\n");

  transaction.commit(false);
  EXPECT_EQ(readFile(at("/flash/var/pdb/a/disabled")), "user\n");
  EXPECT_FALSE(pathExists(at("/flash/var/pdb/b")));
  EXPECT_FALSE(pathExists(at("/flash/bin/b")));
  EXPECT_TRUE(pathExists(at("/flash/bin/c")));
  EXPECT_FALSE(pathExists(at("/flash/var/pdb/d/disabled")));
  EXPECT_EQ(readFile(at("/flash/var/pdb/d/enabled")), "user\n");
}

TEST_F(ScheduledActions, SilentRunDoesTheSameWithoutOutput) {
  add("a", false, PackageAction::Disable);
  add("b", false, PackageAction::Uninstall);
  add("c");
  EXPECT_TRUE(applyScheduledActions(run, false));
  EXPECT_EQ(left(), (Names{"a", "c"}));
  EXPECT_TRUE(repository.packages[0]->disabled);
  EXPECT_TRUE(repository.messages.empty());
  EXPECT_EQ(console.str(), "");
}

TEST_F(ScheduledActions, RemovalsRunLastLoadedFirst) {
  add("a", false, PackageAction::Disable);
  add("b", false, PackageAction::Disable);
  add("c");
  applyScheduledActions(run, true);
  EXPECT_EQ(repository.messages, (Names{"disabled b-1.0", "disabled a-1.0"}));
}

TEST_F(ScheduledActions, RefusedPlanStagesNothing) {
  add("a", false, PackageAction::Uninstall);
  add("b", false, PackageAction::Disable);
  EXPECT_FALSE(applyScheduledActions(run, true));
  EXPECT_TRUE(transaction.isEmpty());
  EXPECT_EQ(left(), (Names{"a", "b"}));
  EXPECT_EQ(repository.messages, (Names{"ERROR: can not uninstall or disable all packages"}));
}

TEST_F(ScheduledActions, EnablePackagesEnablesWhateverTheAction) {
  Package& a = add("a", true);
  Package& b = add("b", true, PackageAction::Disable);
  enablePackages(run, {&b, &a}, true);
  EXPECT_EQ(repository.messages, (Names{"enabled b-1.0", "enabled a-1.0"}));
  EXPECT_FALSE(a.disabled);
  EXPECT_EQ(b.action, PackageAction::None);
  ASSERT_NE(transaction.find(at("/flash/var/pdb/a/disabled")), nullptr);
  EXPECT_EQ(transaction.find(at("/flash/var/pdb/a/disabled"))->kind, OpKind::Remove);
}

TEST_F(ScheduledActions, CleanupKeepsTheSystemAndWhatDependsOnARecentOne) {
  add("system").version = makeVersion(3, 23, 'f', 0);
  add("quarry");
  add("tessel-drivers");
  Package& bundle = add("suite");
  bundle.isBundle = true;
  bundle.files.clear();
  // A bundle stays while a member stays.
  add("recent", false, PackageAction::None, {dep("system", makeVersion(3, 22, 'f', 0))}).bundle = dep("suite", k10);
  add("newer", false, PackageAction::None, {dep("system", makeVersion(3, 23, 'f', 0))});
  add("prerelease", false, PackageAction::None, {dep("system", makeVersion(3, 22, 'c', 9))});
  add("older", false, PackageAction::None, {dep("system", makeVersion(3, 21, 'f', 0))});
  add("unrelated");
  add("helper");
  add("needs-helper", false, PackageAction::None, {dep("system", makeVersion(3, 22, 'f', 0)), dep("helper")});

  EXPECT_TRUE(cleanup(run));

  EXPECT_EQ(left(), (Names{"system", "quarry", "tessel-drivers", "suite", "recent", "newer", "helper",
                           "needs-helper"}));
  EXPECT_EQ(repository.messages, (Names{"WARNING: can not uninstall helper-1.0: needs-helper depends on it"}));
  transaction.commit(false);
  for (const char* gone : {"prerelease", "older", "unrelated"}) {
    EXPECT_FALSE(pathExists(at("/flash/bin/") + gone)) << gone;
    EXPECT_FALSE(pathExists(at("/flash/var/pdb/") + gone)) << gone;
  }
  EXPECT_TRUE(pathExists(at("/flash/bin/helper")));
}

TEST_F(ScheduledActions, CleanupCarriesOutWhatWasScheduledSilentlyFirst) {
  add("system").version = makeVersion(3, 22, 'f', 0);
  add("tool", true, PackageAction::Enable, {dep("system", makeVersion(3, 22, 'f', 0))});
  add("old", false, PackageAction::Disable);
  EXPECT_TRUE(cleanup(run));
  // The first plan enables tool and disables old without a word; the second
  // uninstalls old.
  EXPECT_TRUE(repository.messages.empty());
  EXPECT_EQ(left(), (Names{"system", "tool"}));
  EXPECT_FALSE(repository.packages[1]->disabled);
}

}  // namespace
