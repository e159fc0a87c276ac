#include "planning/candidates.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "support/package_writer.h"
#include "support/scratch_dir.h"

namespace {

const Version k10 = makeVersion(1, 0, 'f', 0);
const Version k11 = makeVersion(1, 1, 'f', 0);

using Names = std::vector<std::string>;

Dependency dep(const std::string& name) {
  Dependency d;
  d.name = name;
  return d;
}

std::unique_ptr<PackageFile> packageFile(const std::string& name, Version version, uint32_t buildTime = 100) {
  auto file = std::make_unique<PackageFile>(name);
  file->version = version;
  file->buildTime = buildTime;
  file->path = "/flash/rw/pckg/" + name + ".vpa";
  return file;
}

std::unique_ptr<PackageFile> bundleFile(const std::string& name, Version version,
                                        const std::vector<std::pair<std::string, Version>>& members) {
  auto file = packageFile(name, version);
  file->isBundle = true;
  for (const auto& [memberName, memberVersion] : members) {
    auto member = std::make_unique<PackageInfo>(memberName);
    member->version = memberVersion;
    member->buildTime = 100;
    file->members.push_back(std::move(member));
  }
  return file;
}

Names titles(const CandidateList& list) {
  Names result;
  for (const auto& file : list) result.push_back(file->name + "-" + versionText(file->version));
  return result;
}

class Selection : public ::testing::Test {
 protected:
  Names select(bool downgrade = false, bool report = true) {
    selectCandidates(repository, &candidates, downgrade, report);
    return titles(candidates);
  }

  Repository repository;
  CandidateList candidates;
};

TEST_F(Selection, NewerCandidateWinsUnlessDowngrading) {
  for (const auto& [downgrade, kept, warning] :
       {std::tuple{false, "x-1.1", "WARNING: omitting package x-1.0: newer package is already provided"},
        std::tuple{true, "x-1.0", "WARNING: omitting package x-1.1: older package is already provided"}}) {
    candidates.clear();
    repository.messages.clear();
    candidates.push_back(packageFile("x", k10));
    candidates.push_back(packageFile("x", k11));
    EXPECT_EQ(select(downgrade), (Names{kept}));
    EXPECT_EQ(repository.messages, (Names{warning}));
  }
}

TEST_F(Selection, LaterBuildOfTheSameVersionWinsSilentlyWithoutReporting) {
  candidates.push_back(packageFile("x", k10, 200));
  candidates.push_back(packageFile("x", k10, 100));
  EXPECT_EQ(select(false, false), (Names{"x-1.0"}));
  EXPECT_EQ(candidates[0]->buildTime, 200u);
  EXPECT_TRUE(repository.messages.empty());
}

TEST_F(Selection, BundleIsPreferredToASeparateMemberOfTheSameVersion) {
  candidates.push_back(packageFile("p", k10));
  candidates.push_back(bundleFile("suite", k10, {{"q", k10}, {"p", k10}}));
  EXPECT_EQ(select(), (Names{"suite-1.0"}));
  EXPECT_TRUE(repository.messages.empty());
}

TEST_F(Selection, NewerSeparateMemberBeatsTheBundle) {
  candidates.push_back(bundleFile("suite", k10, {{"p", k10}}));
  candidates.push_back(packageFile("p", k11));
  EXPECT_EQ(select(), (Names{"p-1.1"}));
  EXPECT_EQ(repository.messages, (Names{"WARNING: omitting package suite-1.0: newer package is already provided"}));
}

TEST_F(Selection, OfTwoEqualCandidatesTheFirstIsKeptSilently) {
  candidates.push_back(packageFile("x", k10));
  candidates.back()->path = "first";
  candidates.push_back(packageFile("y", k10));
  candidates.push_back(packageFile("x", k10));
  candidates.push_back(bundleFile("suite", k10, {{"p", k10}}));
  candidates.push_back(bundleFile("suite", k10, {{"p", k10}}));
  candidates.push_back(packageFile("x", k10));
  EXPECT_EQ(select(), (Names{"suite-1.0", "y-1.0", "x-1.0"}));
  EXPECT_EQ(candidates[2]->path, "first");
  EXPECT_TRUE(repository.messages.empty());
}

TEST_F(Selection, CandidatesComeAfterWhatTheyNeed) {
  candidates.push_back(packageFile("b", k10));
  candidates.back()->depends = {dep("a")};
  candidates.push_back(packageFile("a", k10));
  EXPECT_EQ(select(), (Names{"a-1.0", "b-1.0"}));
}

TEST_F(Selection, UnrelatedCandidatesEndUpReversed) {
  candidates.push_back(packageFile("a", k10));
  candidates.push_back(packageFile("b", k10));
  candidates.push_back(packageFile("c", k10));
  EXPECT_EQ(select(), (Names{"c-1.0", "b-1.0", "a-1.0"}));
}

TEST_F(Selection, CandidateGoesRightAfterTheLastOneItNeedsOrThatOverridesIt) {
  candidates.push_back(packageFile("base", k10));
  candidates.push_back(packageFile("net", k10));
  candidates.back()->depends = {dep("base")};
  candidates.push_back(packageFile("router", k10));
  candidates.push_back(packageFile("legacy", k10));
  // router overrides legacy: legacy comes after it.
  candidates[2]->conflicts = {dep("legacy")};
  candidates.push_back(packageFile("tools", k10));
  candidates.back()->depends = {dep("base"), dep("net")};
  EXPECT_EQ(select(), (Names{"router-1.0", "legacy-1.0", "base-1.0", "net-1.0", "tools-1.0"}));
}

TEST_F(Selection, EmptyListStaysEmpty) {
  EXPECT_TRUE(select().empty());
  std::vector<Package*> none;
  selectCandidates(repository, &none, false, true);
  EXPECT_TRUE(none.empty());
}

TEST_F(Selection, BorrowedRecordsAreOnlyLeftOut) {
  Package older("q");
  older.version = k10;
  Package newer("q");
  newer.version = k11;
  Package other("r");
  std::vector<Package*> list = {&older, &newer, &other};
  selectCandidates(repository, &list, false, false);
  EXPECT_EQ(list, (std::vector<Package*>{&other, &newer}));
}

TEST(CollectCandidates, ReadsPackageFilesAndReportsBrokenOnes) {
  ScratchDir scratch;
  const std::string dir = scratch.path() + "/pckg/";
  ASSERT_TRUE(writeFile(dir + "readme", ""));
  const auto package = [](const std::string& name) {
    return PackageWriter().part(kPackageHeaderPart, headerPayload(name, k10, 100));
  };
  ASSERT_TRUE(package("x").writeTo(dir + "x-1.0.vpa"));
  ASSERT_TRUE(package("y").writeTo(dir + "y.qpa"));
  ASSERT_TRUE(package("hidden").writeTo(dir + ".hidden.vpa"));
  ASSERT_TRUE(package("upper").writeTo(dir + "upper.VPA"));
  ASSERT_TRUE(package("text").writeTo(dir + "notes.txt"));
  ASSERT_TRUE(package("bare").writeTo(dir + "vpa"));
  ASSERT_TRUE(writeFile(dir + "broken.vpa", "not a package file"));
  ASSERT_TRUE(package("cut").lengthField(100).writeTo(dir + "cut.qpa"));

  Repository repository;
  CandidateList candidates;
  candidates.push_back(packageFile("already", k10));
  collectCandidates(repository, dir, &candidates);

  Names names;
  ASSERT_EQ(candidates.size(), 3u);
  for (const auto& file : candidates) names.push_back(file->name + " " + file->path);
  std::sort(names.begin() + 1, names.end());
  EXPECT_EQ(names, (Names{"already /flash/rw/pckg/already.vpa", "x " + dir + "x-1.0.vpa", "y " + dir + "y.qpa"}));
  Names messages = repository.messages;
  std::sort(messages.begin(), messages.end());
  EXPECT_EQ(messages, (Names{"ERROR: broken package broken.vpa", "ERROR: broken package cut.qpa"}));
}

TEST(CollectCandidates, MissingDirectoryLeavesTheListAlone) {
  ScratchDir scratch;
  Repository repository;
  CandidateList candidates;
  collectCandidates(repository, scratch / "none/", &candidates);
  EXPECT_TRUE(candidates.empty());
  EXPECT_TRUE(repository.messages.empty());
}

}  // namespace
