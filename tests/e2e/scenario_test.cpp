// Every block of the scenario files in tests/scenarios/ as a test of its own,
// named FILE.Title; see tests/scenarios/README.md.

#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

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
