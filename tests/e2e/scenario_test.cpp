// Every block of the scenario files in tests/scenarios/ as a test of its own,
// named FILE.Title; see tests/scenarios/README.md.

#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/plan_agreement.h"
#include "support/scenario_runner.h"
#include "support/scratch_dir.h"

namespace {

class ScenarioTest : public ::testing::Test {
 public:
  ScenarioTest(const ScenarioFile* file, size_t index) : file_(file), index_(index) {}
  void TestBody() override { checkScenario(*file_, file_->scenarios[index_]); }

 private:
  const ScenarioFile* file_;
  size_t index_;
};

class UnreadableScenarioFile : public ::testing::Test {
 public:
  explicit UnreadableScenarioFile(const ScenarioFile* file) : file_(file) {}
  void TestBody() override { ADD_FAILURE_AT(file_->path.c_str(), file_->errorLine) << file_->error; }

 private:
  const ScenarioFile* file_;
};

// pkgtool plan before every upgrade run of every scenario, against what the
// run then says and does.
class PlanAgreesWithEveryUpgradeRun : public ::testing::Test {
 public:
  explicit PlanAgreesWithEveryUpgradeRun(const std::vector<ScenarioFile>* files) : files_(files) {}
  void TestBody() override {
    int runs = 0;
    for (const ScenarioFile& file : *files_) {
      for (const Scenario& scenario : file.scenarios) {
        if (!scenario.error.empty()) continue;
        const PlanAgreement agreement = checkPlansAgainstRuns(scenario);
        if (agreement.skipped) GTEST_SKIP() << agreement.skipReason;
        runs += agreement.upgradeRuns;
        for (const std::string& disagreement : agreement.disagreements)
          ADD_FAILURE_AT(file.path.c_str(), scenario.line) << disagreement;
      }
    }
    EXPECT_GE(runs, 10) << "the scenarios hold fewer upgrade runs than they did";
  }

 private:
  const std::vector<ScenarioFile>* files_;
};

std::vector<std::string> scenarioPaths(const std::string& dir) {
  std::vector<std::string> paths;
  if (DIR* listing = ::opendir(dir.c_str())) {
    while (const dirent* entry = ::readdir(listing)) {
      const std::string name = entry->d_name;
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".scn") == 0) paths.push_back(dir + "/" + name);
    }
    ::closedir(listing);
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

// The files stay loaded for the whole run: the tests point into them.
void registerScenarios(std::vector<ScenarioFile>* files) {
  for (const std::string& path : scenarioPaths(INSTALLER_SCENARIO_DIR))
    files->push_back(parseScenarioFile(path, readFile(path)));
  ::testing::RegisterTest("PlanAgreement", "PlanAgreesWithEveryUpgradeRun", nullptr, nullptr, __FILE__, __LINE__,
                          [files]() -> ::testing::Test* { return new PlanAgreesWithEveryUpgradeRun(files); });
  for (const ScenarioFile& file : *files) {
    if (!file.error.empty()) {
      ::testing::RegisterTest(file.suite.c_str(), "FileIsReadable", nullptr, nullptr, file.path.c_str(), file.errorLine,
                              [&file]() -> ::testing::Test* { return new UnreadableScenarioFile(&file); });
      continue;
    }
    for (size_t i = 0; i < file.scenarios.size(); ++i)
      ::testing::RegisterTest(file.suite.c_str(), file.scenarios[i].title.c_str(), nullptr, nullptr, file.path.c_str(),
                              file.scenarios[i].line,
                              [&file, i]() -> ::testing::Test* { return new ScenarioTest(&file, i); });
  }
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  std::vector<ScenarioFile> files;
  registerScenarios(&files);
  return RUN_ALL_TESTS();
}
