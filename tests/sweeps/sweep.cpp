#include "sweeps/sweep.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>

#include "model/version.h"
#include "support/mount_namespace.h"
#include "support/scratch_dir.h"
#include "support/tmpfs_mount.h"

namespace {

// "tmp" or ".tmp" and six more characters: the names of staged files.
bool isTemporaryName(const std::string& name) {
  const size_t prefix = name.rfind(".tmp", 0) == 0 ? 4 : name.rfind("tmp", 0) == 0 ? 3 : 0;
  return prefix != 0 && name.size() == prefix + 6;
}

// Every board of the sweeps lies on a tmpfs of the test process's own: the
// thousands of runs sync and fsync, which on a disk shared with other builds
// take most of the time. What the sweeps prove does not depend on it: a
// killed process leaves what it wrote in the page cache either way.
class ScratchOnTmpfs : public testing::Environment {
 public:
  void SetUp() override {
    std::string why;
    if (!enterPrivateMountNamespace(&why)) return;  // each board then skips
    base_ = std::make_unique<ScratchDir>();
    mount_ = std::make_unique<TmpfsMount>(base_->path(), kScratchBytes);
    if (mount_->mounted()) ::setenv("TMPDIR", base_->path().c_str(), 1);
  }
  void TearDown() override {
    mount_.reset();
    base_.reset();
  }

 private:
  static constexpr size_t kScratchBytes = size_t(2) << 30;  // pages are taken as used
  std::unique_ptr<ScratchDir> base_;
  std::unique_ptr<TmpfsMount> mount_;
};

const testing::Environment* const kScratchOnTmpfs = testing::AddGlobalTestEnvironment(new ScratchOnTmpfs);

}  // namespace

bool fullSweep() {
  const char* setting = std::getenv("INSTALLER_SWEEP");
  return setting != nullptr && std::strcmp(setting, "full") == 0;
}

int SweepTally::cases() const {
  int all = 0;
  for (const auto& [outcome, count] : counts_) all += count;
  return all;
}

void SweepTally::print() const {
  auto listed = [](const std::map<std::string, int>& kinds) {
    std::string text;
    for (const auto& [kind, count] : kinds) text += (text.empty() ? "" : ", ") + kind + " " + std::to_string(count);
    return text.empty() ? text : " (" + text + ")";
  };
  auto countOf = [this, &listed](const char* outcome) {
    const int count = counts_.count(outcome) ? counts_.at(outcome) : 0;
    return std::to_string(count) + " " + outcome + (details_.count(outcome) ? listed(details_.at(outcome)) : "");
  };
  std::map<std::string, int> explained;
  int explainedCount = 0;
  for (const auto& [outcome, count] : counts_) {
    if (outcome == "old" || outcome == "new" || outcome == "other") continue;
    explained[outcome] = count;
    explainedCount += count;
  }
  std::printf("SWEEP %s: %d cases, %s, %s, %d explained%s, %d other\n", name_.c_str(), cases(),
              countOf("old").c_str(), countOf("new").c_str(), explainedCount, listed(explained).c_str(), other());
  std::fflush(stdout);
}

std::string packageBytes(const PackageRecipe& recipe) {
  ScratchDir scratch;
  std::string messages;
  EXPECT_TRUE(buildPackageFile(recipe, scratch / "package.vpa", &messages)) << messages;
  return readFile(scratch / "package.vpa");
}

std::string bundleBytes(const std::string& name, const std::string& version, const std::vector<PackageRecipe>& members,
                        const std::vector<std::string>& options) {
  ScratchDir scratch;
  std::vector<std::string> words{"bundle", "--key", developmentKeyPath(), "--name", name, "--version", version,
                                 "--build-time", std::to_string(kTestBuildTime), "-o", scratch / "bundle.vpa"};
  words.insert(words.end(), options.begin(), options.end());
  for (const PackageRecipe& member : members) {
    EXPECT_TRUE(buildPackageFile(member, scratch / member.name));
    words.push_back(scratch / member.name);
  }
  std::string messages;
  EXPECT_TRUE(runPackagingTool(words, &messages)) << messages;
  return readFile(scratch / "bundle.vpa");
}

RunInput standardInput(const std::string& bytes) {
  RunInput input;
  input.standardInput = bytes;
  return input;
}

bool installByEntry(const Board& board, const std::string& name, const std::string& version,
                    const std::vector<std::pair<std::string, std::string>>& files) {
  unsigned major = 0, minor = 0;
  std::sscanf(version.c_str(), "%u.%u", &major, &minor);
  DatabaseEntry entry;
  entry.name = name;
  entry.version = std::make_pair(makeVersion(major, minor, 'f', 0), 1000u);
  entry.deps = std::vector<Dependency>{};
  entry.files = std::vector<std::string>{};
  for (const auto& [path, content] : files) {
    entry.files->push_back(path);
    if (!board.write("/flash/" + path, content, 0755)) return false;
  }
  return board.writeDatabaseEntry(entry);
}

TreeSnapshot withoutPostlog(TreeSnapshot tree) {
  tree.erase("/flash/postlog");
  return tree;
}

std::vector<std::string> leftovers(const TreeSnapshot& tree) {
  std::vector<std::string> found;
  for (const auto& [path, entry] : tree) {
    const std::string name = path.substr(path.rfind('/') + 1);
    if (isTemporaryName(name) || name == ".journal" || name == ".journal.new" || name == ".staged")
      found.push_back(path);
  }
  return found;
}

TreeSnapshot namedByDestination(TreeSnapshot tree) {
  auto manifest = tree.find("/ram/MANIFEST");
  if (manifest == tree.end()) return tree;
  std::string text = manifest->second.data;
  std::istringstream lines(text);
  for (std::string letter, destination, source; lines >> letter >> destination;) {
    if (letter != "M" || !(lines >> source)) continue;
    const std::string name = source.substr(source.rfind('/') + 1);
    if (!isTemporaryName(name) || !tree.count(source)) continue;
    const std::string renamed = source.substr(0, source.rfind('/') + 1) + "tmp[" + destination + "]";
    tree[renamed] = tree[source];
    tree.erase(source);
    for (size_t at; (at = text.find(source + "\n")) != std::string::npos;) text.replace(at, source.size(), renamed);
  }
  tree["/ram/MANIFEST"].data = text;
  return tree;
}

bool restoreSnapshot(const Board& board, const TreeSnapshot& tree) {
  // A parent sorts before everything below it.
  for (const auto& [path, entry] : tree) {
    const std::string at = board.path(path);
    bool made = true;
    switch (entry.type) {
      case TreeEntry::Directory:
        made = (::mkdir(at.c_str(), entry.mode) == 0 || errno == EEXIST) && ::chmod(at.c_str(), entry.mode) == 0;
        break;
      case TreeEntry::File:
        made = writeFile(at, entry.data) && ::chmod(at.c_str(), entry.mode) == 0;
        break;
      case TreeEntry::Link:
        made = ::symlink(entry.data.c_str(), at.c_str()) == 0;
        break;
      case TreeEntry::Other:
        made = false;
        break;
    }
    if (!made) return false;
  }
  return true;
}
