#include "install/installation_driver.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "install/postlog.h"
#include "staging/transaction.h"
#include "database/package_database.h"
#include "pkgfile/package_stream.h"
#include "model/console.h"
#include "support/package_writer.h"
#include "support/scratch_dir.h"
#include "support/signed_package.h"

namespace {

const Version k10 = makeVersion(1, 0, 'f', 0);
const Version k11 = makeVersion(1, 1, 'f', 0);
const Version k12 = makeVersion(1, 2, 'f', 0);

// One signed package file with one file record.
std::string packageFile(const std::string& name, Version version, const std::string& file,
                        std::vector<Dependency> depends = {}) {
  std::string parts = partHeader(kPackageHeaderPart, 32) + headerPayload(name, version, 100);
  if (!depends.empty()) {
    const std::string list = listPayload(depends);
    parts += partHeader(kDependsPart, static_cast<uint32_t>(list.size())) + list;
  }
  const std::string container = zlibCompress(fileRecord(0100644, 0, file, name));
  parts += partHeader(kFileContainerPart, static_cast<uint32_t>(container.size())) + container;
  return PackageWriter().raw(signedPackageParts(developmentSigningKey(), parts)).bytes();
}

class InstallationDriver : public ::testing::Test {
 protected:
  InstallationDriver() : transaction_(scratch_.path()) {
    writeFile(scratch_ / "ram/.keep", "");
    writeFile(scratch_ / "flash/var/pdb/.keep", "");
    writeFile(scratch_ / "flash/rw/pckg/.keep", "");
    setConsoleStream(&console_);
    forgetPostlogLoaded();
    repository_.architecture = "i386";  // what a package without an architecture part is made for
  }
  ~InstallationDriver() override {
    setConsoleStream(nullptr);
    forgetPostlogLoaded();
  }

  void offer(const std::string& fileName, const std::string& bytes) {
    ASSERT_TRUE(writeFile(scratch_ / ("flash/rw/pckg/" + fileName), bytes));
  }
  Package& installed(const std::string& name, Version version, bool disabled, bool userForced) {
    auto package = std::make_unique<Package>(name);
    package->version = version;
    package->buildTime = 100;
    package->disabled = disabled;
    package->userForced = userForced;
    repository_.packages.push_back(std::move(package));
    return *repository_.packages.back();
  }
  std::string at(const std::string& boardPath) const { return scratch_.path() + boardPath; }

  ScratchDir scratch_;
  Repository repository_;
  Transaction transaction_;
  std::ostringstream console_;
};

TEST_F(InstallationDriver, ANewVersionTakesOverTheStateTheUserChose) {
  installed("tool", k10, /*disabled=*/true, /*userForced=*/true);
  offer("tool.vpa", packageFile("tool", k11, "bin/tool"));

  runUpgrade(repository_, transaction_, Upgrade, scratch_.path());
  transaction_.commit(false);

  ASSERT_EQ(repository_.packages.size(), 1u);
  EXPECT_TRUE(repository_.packages[0]->disabled);
  EXPECT_TRUE(repository_.packages[0]->userForced);
  EXPECT_EQ(readFile(at("/flash/x/tool/bin/tool")), "tool");
  EXPECT_EQ(readFile(at("/flash/var/pdb/tool/disabled")), "user\n");
  EXPECT_NE(console_.str().find("installed (disabled) tool-1.1\n"), std::string::npos) << console_.str();
}

TEST_F(InstallationDriver, APackageAnEnabledPackageConflictsWithIsNotEnabledAgain) {
  installed("a", k10, false, false);
  installed("b", k10, false, false).conflicts.push_back({"a", k11, 0, 0});
  offer("a.vpa", packageFile("a", k11, "bin/a"));

  runUpgrade(repository_, transaction_, Upgrade, scratch_.path());

  EXPECT_TRUE(repository_.find("a")->disabled);
  EXPECT_EQ(console_.str().find("enabled a-1.1"), std::string::npos) << console_.str();
}

TEST_F(InstallationDriver, AFailedPackageCancelsEverythingStagedInTheRun) {
  transaction_.remove(at("/flash/var/pdb/.keep"));  // staged before the upgrade
  offer("good.vpa", packageFile("good", k10, "bin/good"));
  std::string broken = packageFile("broken", k10, "bin/broken");
  broken[broken.size() - 40] ^= 0x20;  // inside the signature
  offer("broken.vpa", broken);

  runUpgrade(repository_, transaction_, Upgrade, scratch_.path());

  EXPECT_TRUE(transaction_.isEmpty());
  EXPECT_NE(console_.str().find("ERROR: installation of broken-1.0 failed: broken package\n"), std::string::npos)
      << console_.str();
}

TEST_F(InstallationDriver, AnUpgradeThatLeavesNoPackageIsAFailedInstallation) {
  runUpgrade(repository_, transaction_, Upgrade, scratch_.path());
  EXPECT_TRUE(transaction_.isEmpty());
  EXPECT_EQ(console_.str(), "ERROR: router installation failed!!!\n");
  EXPECT_FALSE(postlogLoaded());  // no candidates: the log is left for appending
}

// Only a stream that is not newer than the installed package is told apart:
// every other stream that is not installed cancels an upgrade.
TEST_F(InstallationDriver, AStreamNotNewerThanTheInstalledOneIsToldFromOneRefusedOrBroken) {
  installed("tool", k11, false, false);
  std::string broken = packageFile("tool", k12, "bin/tool");
  broken[broken.size() - 40] ^= 0x20;
  const struct {
    const char* what;
    std::string file;
    int result;
    bool notNewer;
  } cases[] = {
      {"same version", packageFile("tool", k11, "bin/tool"), kPackageNotInstalled, true},
      {"older", packageFile("tool", k10, "bin/tool"), kPackageNotInstalled, true},
      {"missing dependency", packageFile("app", k10, "bin/app", {Dependency{"lib"}}), kPackageNotInstalled, false},
      {"bad signature", broken, kPackageNotInstalled, false},
      {"newer", packageFile("tool", k12, "bin/tool"), kStreamInstalled, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    bool notNewer = !c.notNewer;
    std::istringstream stream(c.file);
    EXPECT_EQ(installFromStream(repository_, transaction_, stream.rdbuf(), Upgrade, {}, nullptr, nullptr, nullptr,
                                &notNewer, scratch_.path()),
              c.result);
    EXPECT_EQ(notNewer, c.notNewer);
  }
}

TEST_F(InstallationDriver, AnInstalledPackageFileLeftInTheDirectoryDoesNotStopTheOthers) {
  installed("tool", k10, false, false);
  offer("tool.vpa", packageFile("tool", k10, "bin/tool"));
  offer("extra.vpa", packageFile("extra", k10, "bin/extra"));

  runUpgrade(repository_, transaction_, Upgrade, scratch_.path());
  transaction_.commit(false);

  EXPECT_EQ(readFile(at("/flash/bin/extra")), "extra");
  EXPECT_NE(console_.str().find("WARNING: omitting package tool-1.0: it is already installed\n"), std::string::npos)
      << console_.str();
}

TEST_F(InstallationDriver, TheStoredImagePathIsCutAt127Characters) {
  EXPECT_EQ(storedImagePath("tool"), "/flash/var/pdb/tool/image");
  const std::string path = storedImagePath(std::string(120, 'n'));
  EXPECT_EQ(path.size(), 127u);
  EXPECT_EQ(path, "/flash/var/pdb/" + std::string(112, 'n'));
}

}  // namespace
