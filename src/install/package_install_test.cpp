#include "install/package_install.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "model/console.h"
#include "model/relations.h"
#include "pkgfile/package_stream.h"
#include "staging/transaction.h"
#include "support/package_writer.h"
#include "support/scratch_dir.h"
#include "support/signed_package.h"

namespace {

const Version k10 = makeVersion(1, 0, 'f', 0);
const Version k20 = makeVersion(2, 0, 'f', 0);
constexpr uint32_t kBuilt = 100;
constexpr uint16_t kRegularFile = 0100644;

const PartType kInstallParts[] = {
    kPackageHeaderPart, kBundleHeaderPart, kBundleMembersPart, kArchitecturePart, kDependsPart,
    kProvidesPart,      kConflictsPart,    kImagePart,         kFileContainerPart, kSignaturePart,
};

using Names = std::vector<std::string>;

// What image mode tells of a bundle.
constexpr int kBundleInstalled = 0;
constexpr int kBundleUnreadable = 1;
constexpr int kBundleRefused = 2;
constexpr int kBundleNothingInstalled = 3;

Dependency dep(const std::string& name) {
  Dependency d;
  d.name = name;
  return d;
}

std::string part(uint16_t type, const std::string& payload) {
  return partHeader(type, static_cast<uint32_t>(payload.size())) + payload;
}

// One package's parts as a package file carries them, signed.
struct Member {
  Member(const char* memberName) : name(memberName) {}  // NOLINT: implicit, so that {"name"} names one

  std::string name;
  Version version = k20;
  uint32_t flags = 0;
  std::vector<Dependency> depends;
  bool image = false;

  std::string parts() const {
    std::string bytes = part(kPackageHeaderPart, headerPayload(name, version, kBuilt, flags));
    if (!depends.empty()) bytes += part(kDependsPart, listPayload(depends));
    if (image) bytes += part(kImagePart, std::string(5000, 'i'));
    bytes += part(kFileContainerPart, zlibCompress(fileRecord(kRegularFile, 0, "bin/" + name, name + " new")));
    return signedPackageParts(developmentSigningKey(), bytes);
  }
};

std::string packageFile(const Member& member, uint32_t magic = kWriterPackageMagic) {
  return PackageWriter(magic).raw(member.parts()).bytes();
}

// A bundle file: header, optional image marker and start-disabled list, then
// the members' own parts.
std::string bundleFile(const std::string& name, Version version, const std::string& members,
                       const std::vector<Dependency>& startDisabled = {}, bool image = false) {
  PackageWriter writer;
  writer.part(kBundleHeaderPart, headerPayload(name, version, kBuilt));
  if (image) writer.part(kImagePart, "");
  if (!startDisabled.empty()) writer.part(kBundleMembersPart, listPayload(startDisabled));
  return writer.raw(members).bytes();
}

// A package stream over bytes, standing at its first part as the driver opens it.
struct OpenStream {
  explicit OpenStream(const std::string& bytes) : source(bytes, std::ios::in), stream(&source, true) {
    for (PartType type : kInstallParts) stream.acceptPart(type);
    stream.nextPart();
  }
  std::stringbuf source;
  PackageStream stream;
};

// A scratch board with installed packages whose files and entries exist on
// disk, and the console captured.
class PackageInstall : public ::testing::Test {
 protected:
  PackageInstall() : transaction(BoardPaths(scratch.path())) {
    writeFile(scratch / "ram/.keep", "");
    unsetenv("bootimage");
    repository.architecture = "i386";
    repository.console = &console;
  }
  ~PackageInstall() override {
    unsetenv("bootimage");
  }

  Package& installed(const std::string& name, Version version = k10) {
    auto package = std::make_unique<Package>(name);
    package->version = version;
    package->buildTime = kBuilt;
    package->files = {"/bin/" + name + "-old"};
    writeFile(at("/flash/bin/" + name + "-old"), name + " old");
    writeFile(at("/flash/var/pdb/" + name + "/version"), "16777216 100\n");
    repository.packages.push_back(std::move(package));
    return *repository.packages.back();
  }

  Package& installedMember(const std::string& name, Version version, const std::string& bundle) {
    Package& member = installed(name, version);
    member.bundle.name = bundle;
    member.bundle.min = member.bundle.max = k10;
    return member;
  }

  Package& installedBundle(const std::string& name) {
    Package& bundle = installed(name);
    bundle.isBundle = true;
    bundle.files.clear();
    return bundle;
  }

  Package* install(const std::string& bytes, InstallFlags permitted = InstallFlags::Upgrade,
                   const PreservedStates& preserved = {}, std::string* imageDirectory = nullptr,
                   bool* bootImage = nullptr) {
    OpenStream open(bytes);
    InstallRun run{repository, transaction, permitted, preserved};
    const InstallResult result = installPackage(run, open.stream);
    if (imageDirectory) *imageDirectory = result.imageDirectory;
    if (bootImage) *bootImage = result.bootImage;
    return result.package;
  }

  // The bundle's result as image mode tells it.
  int installSuite(const std::string& bytes, InstallFlags permitted = InstallFlags::Upgrade,
                   const PreservedStates& preserved = {}, std::string* imageDirectory = nullptr,
                   bool* bootImage = nullptr) {
    OpenStream open(bytes);
    InstallRun run{repository, transaction, permitted, preserved};
    const InstallResult result = installBundle(run, open.stream);
    if (imageDirectory) *imageDirectory = result.imageDirectory;
    if (bootImage) *bootImage = result.bootImage;
    return streamStatus(result);
  }

  std::string at(const std::string& path) const { return scratch.path() + path; }

  bool staged(const std::string& path, OpKind kind) const {
    const StagedOp* op = transaction.find(at(path));
    return op != nullptr && op->kind == kind;
  }

  Names names() const {
    Names list;
    for (const auto& package : repository.packages) list.push_back(package->name);
    return list;
  }

  ScratchDir scratch;
  Repository repository;
  Transaction transaction;
  std::ostringstream console;
};

TEST_F(PackageInstall, ReplacingStagesTheOldFilesRemovalAndTheNewFiles) {
  installed("tool");
  Package* tool = install(packageFile({"tool"}));
  ASSERT_NE(tool, nullptr);
  EXPECT_EQ(tool->version, k20);
  EXPECT_EQ(names(), (Names{"tool"}));
  EXPECT_EQ(repository.messages, (Names{"installed tool-2.0"}));
  EXPECT_TRUE(staged("/flash/bin/tool-old", OpKind::Remove));

  transaction.commit(false);
  EXPECT_FALSE(pathExists(at("/flash/bin/tool-old")));
  EXPECT_EQ(readFile(at("/flash/bin/tool")), "tool new");
}

TEST_F(PackageInstall, ConflictDisablesASinglePackageButRefusesABundle) {
  installed("blocker").conflicts = {dep("tool"), dep("suite")};

  Package* tool = install(packageFile({"tool"}));
  ASSERT_NE(tool, nullptr);
  EXPECT_TRUE(tool->disabled);
  EXPECT_EQ(repository.messages, (Names{"installed (disabled) tool-2.0"}));
  EXPECT_TRUE(staged("/flash/x/tool/bin/tool", OpKind::Create));

  repository.messages.clear();
  EXPECT_EQ(installSuite(bundleFile("suite", k10, Member{"part"}.parts())), kBundleRefused);
  EXPECT_EQ(repository.messages, (Names{"ERROR: can not install suite-1.0: it conflicts with blocker-1.0"}));
  EXPECT_EQ(names(), (Names{"blocker", "tool"}));
  EXPECT_EQ(transaction.find(at("/flash/var/pdb/suite/version")), nullptr);
}

TEST_F(PackageInstall, PreservedStateIsTakenOverByTheNewVersion) {
  struct Case {
    const char* what;
    bool hasPreserved;
    bool preservedDisabled;
    bool wantDisabled;
    const char* entryState;  // the state file written, or null
  };
  const Case cases[] = {
      {"not preserved", false, false, false, nullptr},
      {"forced disabled", true, true, true, "/flash/var/pdb/tool/disabled"},
      {"forced enabled", true, false, false, "/flash/var/pdb/tool/enabled"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    repository.packages.clear();
    transaction.cancel();
    installed("tool").disabled = true;
    PreservedStates preserved;
    if (c.hasPreserved) preserved["tool"] = c.preservedDisabled;

    Package* tool = install(packageFile({"tool"}), InstallFlags::Upgrade, preserved);
    ASSERT_NE(tool, nullptr);
    EXPECT_EQ(tool->disabled, c.wantDisabled);
    EXPECT_EQ(tool->userForced, c.hasPreserved);
    if (c.entryState) {
      EXPECT_TRUE(staged(c.entryState, OpKind::Create));
    } else {
      EXPECT_FALSE(staged("/flash/var/pdb/tool/disabled", OpKind::Create));
      EXPECT_FALSE(staged("/flash/var/pdb/tool/enabled", OpKind::Create));
    }
  }
}

TEST_F(PackageInstall, SameVersionIsReportedAsInstalledOnlyWhenResuming) {
  Package& old = installed("tool", k20);
  old.flags = PackageFlag::BootImage;

  EXPECT_EQ(install(packageFile({"tool"})), nullptr);
  EXPECT_EQ(repository.messages, (Names{"WARNING: omitting package tool-2.0: it is already installed"}));
  EXPECT_TRUE(transaction.isEmpty());

  repository.messages.clear();
  bool bootImage = false;
  EXPECT_EQ(install(packageFile({"tool"}), InstallFlags::Upgrade | InstallFlags::Reinstall, {}, nullptr, &bootImage),
            &old);
  EXPECT_EQ(repository.messages, (Names{"installed tool-2.0"}));
  EXPECT_NE(console.str().find("\r" + std::string(78, ' ') + "\r"), std::string::npos);
  EXPECT_TRUE(bootImage);
  EXPECT_TRUE(transaction.isEmpty());
  EXPECT_EQ(repository.packages.size(), 1u);

  repository.messages.clear();
  EXPECT_EQ(install(packageFile({"tool"}), InstallFlags::Upgrade | InstallFlags::Reinstall, {{"tool", true}}), &old);
  EXPECT_EQ(repository.messages, (Names{"installed (disabled) tool-2.0"}));
}

TEST_F(PackageInstall, PackageThatTheSilentPlanUninstallsAgainIsNotReturned) {
  // The new tool needs "lib", which only "wrapper" provides; but wrapper
  // needs tool 1.0 at most, so the plan after the install takes both away.
  installed("other");
  installed("tool");
  Package& wrapper = installed("wrapper");
  Dependency oldTool = dep("tool");
  oldTool.max = k10;
  wrapper.depends = {oldTool};
  wrapper.provides = {dep("lib")};
  Member tool{"tool"};
  tool.depends = {dep("lib")};

  EXPECT_EQ(install(packageFile(tool)), nullptr);
  EXPECT_EQ(names(), (Names{"other"}));
  EXPECT_TRUE(staged("/flash/bin/wrapper-old", OpKind::Remove));
  EXPECT_EQ(transaction.find(at("/flash/bin/tool")), nullptr);
}

TEST_F(PackageInstall, UnregisteredPackageIsInstalledBesideTheInstalledOne) {
  Package& old = installed("tool");
  Package* tool = install(packageFile({"tool"}, kWriterUnregisteredMagic));
  ASSERT_NE(tool, nullptr);
  EXPECT_EQ(names(), (Names{"tool", "tool"}));
  EXPECT_EQ(repository.packages[0].get(), &old);
  EXPECT_EQ(old.files, (std::set<std::string>{"/bin/tool-old"}));
  EXPECT_EQ(transaction.find(at("/flash/bin/tool-old")), nullptr);
  EXPECT_TRUE(staged("/flash/bin/tool", OpKind::Create));
  EXPECT_EQ(transaction.find(at("/flash/var/pdb/tool/version")), nullptr);
}

TEST_F(PackageInstall, OutputsNameTheImageDirectoryAndTheBootImage) {
  struct Case {
    const char* what;
    bool image;
    uint32_t flags;
    bool variable;
    const char* wantDirectory;
    bool wantBootImage;
  };
  const Case cases[] = {
      {"plain", false, 0, false, "", false},
      {"stored image", true, 0, false, "/flash/var/pdb/tool/", false},
      {"boot image flag alone", false, PackageFlag::BootImage, false, "", false},
      {"variable alone", false, 0, true, "", false},
      {"boot image flag and variable", false, PackageFlag::BootImage, true, "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    repository.packages.clear();
    transaction.cancel();
    if (c.variable) {
      setenv("bootimage", "1", 1);
    } else {
      unsetenv("bootimage");
    }
    Member member{"tool"};
    member.flags = c.flags;
    member.image = c.image;
    std::string directory;
    bool bootImage = !c.wantBootImage;
    ASSERT_NE(install(packageFile(member), InstallFlags::Upgrade, {}, &directory, &bootImage), nullptr);
    EXPECT_EQ(directory, *c.wantDirectory ? at(c.wantDirectory) : "");
    EXPECT_EQ(bootImage, c.wantBootImage);
  }
}

TEST_F(PackageInstall, BundleRecordsItselfAndItsMembers) {
  setenv("bootimage", "1", 1);
  Member kernel{"kernel"};
  kernel.flags = PackageFlag::BootImage;
  kernel.image = true;
  std::string directory;
  bool bootImage = false;
  EXPECT_EQ(installSuite(bundleFile("suite", k10, Member{"a"}.parts() + kernel.parts(), {}, true),
                         InstallFlags::Upgrade, {}, &directory, &bootImage),
            kBundleInstalled);
  EXPECT_EQ(repository.messages, (Names{"installed suite-1.0"}));
  EXPECT_EQ(names(), (Names{"suite", "a", "kernel"}));
  EXPECT_EQ(directory, at("/flash/var/pdb/suite/"));
  EXPECT_TRUE(bootImage);
  for (const char* name : {"a", "kernel"}) {
    const Package* member = repository.find(name);
    EXPECT_EQ(member->bundle.name, "suite");
    EXPECT_EQ(member->bundle.min, k10);
    EXPECT_EQ(member->bundle.max, k10);
  }
  EXPECT_TRUE(repository.find("suite")->isBundle);
}

TEST_F(PackageInstall, SkippedMemberWithTheBootImageDoesNotSetTheBundlesFlag) {
  setenv("bootimage", "1", 1);
  installedMember("kernel", k20, "suite").flags = PackageFlag::BootImage;
  Member kernel{"kernel"};
  kernel.flags = PackageFlag::BootImage;
  bool bootImage = true;
  EXPECT_EQ(installSuite(bundleFile("suite", k20, kernel.parts() + Member{"a"}.parts()), InstallFlags::Upgrade, {},
                         nullptr, &bootImage),
            kBundleInstalled);
  EXPECT_FALSE(bootImage);
}

TEST_F(PackageInstall, ReinstallingABundleIsRefusedUnlessResuming) {
  installedBundle("suite");
  Package& a = installedMember("a", k20, "suite");
  Package& b = installedMember("b", k20, "suite");
  const std::string bytes = bundleFile("suite", k10, Member{"a"}.parts() + Member{"b"}.parts());

  EXPECT_EQ(installSuite(bytes), kBundleRefused);
  EXPECT_EQ(repository.messages, (Names{"WARNING: omitting package suite-1.0: it is already installed"}));
  EXPECT_TRUE(transaction.isEmpty());

  repository.messages.clear();
  EXPECT_EQ(installSuite(bytes, InstallFlags::Upgrade | InstallFlags::Reinstall), kBundleInstalled);
  EXPECT_EQ(repository.messages, (Names{"installed suite-1.0"}));
  EXPECT_TRUE(staged("/flash/var/pdb/suite/version", OpKind::Create));
  EXPECT_EQ(names(), (Names{"a", "b", "suite"}));
  EXPECT_EQ(repository.find("a"), &a);
  EXPECT_EQ(repository.find("b"), &b);
  EXPECT_EQ(transaction.find(at("/flash/bin/a-old")), nullptr);
}

TEST_F(PackageInstall, BundleWithoutAnInstalledMemberWritesItsRecordAndReturnsThree) {
  installed("base");
  Member needy{"needy"};
  needy.depends = {dep("absent")};
  const std::string withoutMembers = bundleFile("suite", k10, "");
  const std::string allSkipped = bundleFile("suite", k10, needy.parts());
  for (const std::string* bytes : {&withoutMembers, &allSkipped}) {
    repository.packages.resize(1);
    transaction.cancel();
    EXPECT_EQ(installSuite(*bytes), kBundleNothingInstalled);
    EXPECT_TRUE(repository.messages.empty());
    EXPECT_TRUE(staged("/flash/var/pdb/suite/version", OpKind::Create));
    EXPECT_EQ(names(), (Names{"base", "suite"}));
  }
}

TEST_F(PackageInstall, MemberWithAMissingDependencyIsSkippedSilently) {
  Member needy{"needy"};
  needy.depends = {dep("absent")};
  EXPECT_EQ(installSuite(bundleFile("suite", k10, needy.parts() + Member{"a"}.parts())), kBundleInstalled);
  EXPECT_EQ(repository.messages, (Names{"installed suite-1.0"}));
  EXPECT_EQ(names(), (Names{"suite", "a"}));
  EXPECT_EQ(transaction.find(at("/flash/bin/needy")), nullptr);
  EXPECT_TRUE(staged("/flash/bin/a", OpKind::Create));
}

TEST_F(PackageInstall, MemberTheNewBundleLacksIsUninstalled) {
  installedBundle("suite");
  installedMember("a", k10, "suite");
  installedMember("gone", k10, "suite");
  installed("other");
  EXPECT_EQ(installSuite(bundleFile("suite", k20, Member{"a"}.parts())), kBundleInstalled);
  EXPECT_EQ(names(), (Names{"other", "suite", "a"}));
  EXPECT_EQ(repository.find("a")->version, k20);
  EXPECT_TRUE(staged("/flash/bin/gone-old", OpKind::Remove));
  EXPECT_TRUE(staged("/flash/var/pdb/gone/", OpKind::Remove));
  EXPECT_TRUE(staged("/flash/bin/a-old", OpKind::Remove));
  EXPECT_EQ(transaction.find(at("/flash/bin/other-old")), nullptr);
}

TEST_F(PackageInstall, ListedMembersStartDisabledUnlessTheirStateIsPreserved) {
  struct Case {
    const char* what;
    PreservedStates preserved;
    bool wantDisabled;
    const char* wantFile;
  };
  const Case cases[] = {
      {"listed", {}, true, "/flash/x/b/bin/b"},
      {"preserved enabled", {{"b", false}}, false, "/flash/bin/b"},
      {"preserved disabled", {{"b", true}}, true, "/flash/x/b/bin/b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    repository.packages.clear();
    transaction.cancel();
    EXPECT_EQ(installSuite(bundleFile("suite", k10, Member{"a"}.parts() + Member{"b"}.parts(), {dep("b")}),
                           InstallFlags::Upgrade, c.preserved),
              kBundleInstalled);
    const Package* b = repository.find("b");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->disabled, c.wantDisabled);
    EXPECT_EQ(b->userForced, !c.preserved.empty());
    EXPECT_FALSE(repository.find("a")->disabled);
    EXPECT_TRUE(staged(c.wantFile, OpKind::Create));
    EXPECT_EQ(repository.messages, (Names{"installed suite-1.0"}));
    repository.messages.clear();
  }
}

// Whatever breaks a member, the bundle is reported broken under its own title.
TEST_F(PackageInstall, BrokenMemberFailsTheBundleWithoutLoopingOnIt) {
  const std::string kBrokenSuite = "ERROR: installation of suite-1.0 failed: broken package";
  Member needy{"needy"};
  needy.depends = {dep("absent")};
  std::string badSignature = Member{"b"}.parts();
  badSignature[badSignature.size() - 1] ^= 1;
  struct Case {
    const char* what;
    std::string members;
    Names wantMessages;
  };
  const Case cases[] = {
      {"member header too short", Member{"a"}.parts() + part(kPackageHeaderPart, "short"), {kBrokenSuite}},
      {"member cut off", Member{"a"}.parts() + Member{"b"}.parts().substr(0, 60), {kBrokenSuite}},
      {"bad member signature", Member{"a"}.parts() + badSignature, {kBrokenSuite}},
      {"skipped member cut off", Member{"a"}.parts() + needy.parts().substr(0, needy.parts().size() - 10),
       {kBrokenSuite}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    repository.packages.clear();
    repository.messages.clear();
    transaction.cancel();
    EXPECT_EQ(installSuite(bundleFile("suite", k10, c.members)), kBundleUnreadable);
    EXPECT_EQ(repository.messages, c.wantMessages);
  }
}

}  // namespace
