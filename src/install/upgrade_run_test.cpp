#include "install/upgrade_run.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "database/package_database.h"
#include "install/package_install.h"
#include "install/postlog.h"
#include "model/console.h"
#include "pkgfile/package_stream.h"
#include "staging/transaction.h"
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
  InstallationDriver() : transaction_(BoardPaths(scratch_.path())) {
    writeFile(scratch_ / "ram/.keep", "");
    writeFile(scratch_ / "flash/var/pdb/.keep", "");
    writeFile(scratch_ / "flash/rw/pckg/.keep", "");
    repository_.console = &console_;
    repository_.architecture = "i386";  // what a package without an architecture part is made for
  }

  // The candidates of the package directory, installed into the transaction.
  void installOffered() { installCandidates(run_, log_); }

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
  InstallRun run_{repository_, transaction_, InstallFlags::Upgrade, {}};
  Postlog log_{BoardPaths(scratch_.path())};
  std::ostringstream console_;
};

TEST_F(InstallationDriver, ANewVersionTakesOverTheStateTheUserChose) {
  installed("tool", k10, /*disabled=*/true, /*userForced=*/true);
  offer("tool.vpa", packageFile("tool", k11, "bin/tool"));

  installOffered();
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

  installOffered();

  EXPECT_TRUE(repository_.find("a")->disabled);
  EXPECT_EQ(console_.str().find("enabled a-1.1"), std::string::npos) << console_.str();
}

TEST_F(InstallationDriver, AFailedPackageCancelsEverythingStagedInTheRun) {
  transaction_.remove(at("/flash/var/pdb/.keep"));  // staged before the upgrade
  offer("good.vpa", packageFile("good", k10, "bin/good"));
  std::string broken = packageFile("broken", k10, "bin/broken");
  broken[broken.size() - 40] ^= 0x20;  // inside the signature
  offer("broken.vpa", broken);

  installOffered();

  EXPECT_TRUE(transaction_.isEmpty());
  EXPECT_NE(console_.str().find("ERROR: installation of broken-1.0 failed: broken package\n"), std::string::npos)
      << console_.str();
}

TEST_F(InstallationDriver, AnUpgradeThatLeavesNoPackageIsAFailedInstallation) {
  installOffered();
  EXPECT_TRUE(transaction_.isEmpty());
  EXPECT_EQ(console_.str(), "ERROR: router installation failed!!!\n");
  EXPECT_FALSE(pathExists(at(kPostlogPath)));  // no candidates: the log is not even blanked
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
    InstallOutcome outcome;
  } cases[] = {
      {"same version", packageFile("tool", k11, "bin/tool"), InstallOutcome::NotNewer},
      {"older", packageFile("tool", k10, "bin/tool"), InstallOutcome::NotNewer},
      {"missing dependency", packageFile("app", k10, "bin/app", {Dependency{"lib"}}), InstallOutcome::Refused},
      {"bad signature", broken, InstallOutcome::Broken},
      {"newer", packageFile("tool", k12, "bin/tool"), InstallOutcome::Installed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::istringstream stream(c.file);
    const InstallResult result = installFromStream(run_, stream.rdbuf(), nullptr);
    EXPECT_EQ(result.outcome, c.outcome);
    EXPECT_EQ(streamStatus(result), c.outcome == InstallOutcome::Installed ? 0 : 1);
  }
}

TEST_F(InstallationDriver, AnInstalledPackageFileLeftInTheDirectoryDoesNotStopTheOthers) {
  installed("tool", k10, false, false);
  offer("tool.vpa", packageFile("tool", k10, "bin/tool"));
  offer("extra.vpa", packageFile("extra", k10, "bin/extra"));

  installOffered();
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
