#include "install/package_contents.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "database/package_database.h"
#include "model/console.h"
#include "model/version.h"
#include "pkgfile/package_header.h"
#include "pkgfile/package_stream.h"
#include "platform/processor_version.h"
#include "signature/signing_key.h"
#include "staging/transaction.h"
#include "support/package_writer.h"
#include "support/scratch_dir.h"
#include "support/signed_package.h"
#include "support/tmpfs_mount.h"

namespace {

const uint32_t kInstallTypes[] = {1, 18, 20, 16, 3, 19, 17, 21, 4, 9};
constexpr uint16_t kFile = 0100644;
constexpr uint16_t kDirectory = 040755;
constexpr uint16_t kSymlink = 0120777;
constexpr Version kVersion = makeVersion(6, 41, 'f', 0);
const char kBroken[] = "ERROR: installation of tools-6.41 failed: broken package";

struct PackageRecipe {
  PackageRecipe(std::string records = std::string(), uint32_t flags = 0) : records(std::move(records)), flags(flags) {}
  std::string records;  // uncompressed container
  uint32_t flags = 0;
  std::string image;  // no image part when empty
  uint32_t magic = kWriterPackageMagic;
};

std::string packageParts(const PackageRecipe& recipe) {
  std::string parts = partHeader(kPackageHeaderPart, 36) + headerPayload("tools", kVersion, 1700000000, recipe.flags);
  if (!recipe.image.empty()) parts += partHeader(kImagePart, static_cast<uint32_t>(recipe.image.size())) + recipe.image;
  const std::string container = zlibCompress(recipe.records);
  return parts + partHeader(kFileContainerPart, static_cast<uint32_t>(container.size())) + container;
}

// A signed package file, followed by `after` (the next member of a bundle).
std::string packageFile(const PackageRecipe& recipe, const std::string& after = std::string()) {
  return PackageWriter(recipe.magic)
      .raw(signedPackageParts(developmentSigningKey(), packageParts(recipe)) + after)
      .bytes();
}

// Reads the header as the install reader does, then the contents. `next`
// receives the part the stream stands at afterwards.
bool installFile(const std::string& file, Package& package, Transaction& transaction, int32_t* next = nullptr) {
  std::stringbuf source(file, std::ios::in);
  PackageStream stream(&source, true);
  for (uint32_t type : kInstallTypes) stream.acceptPart(type);
  stream.nextPart();
  if (!readPackageHeader(package, stream)) {
    ADD_FAILURE() << "header unreadable";
    return false;
  }
  InstallRun run{Repository::instance(), transaction, InstallFlags::None, {}};
  const bool installed = installContents(run, package, stream);
  if (next) *next = stream.partType();
  return installed;
}

class InstallContents : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::memcmp(&builtInKey(), &developmentSigningKey().publicKey, sizeof(PublicKey)) != 0)
      GTEST_SKIP() << "built with a key other than the development key";
    ASSERT_TRUE(writeFile(scratch_ / "ram/.keep", ""));
    repository().messages.clear();
    repository().progressLine.clear();
    repository().console = &console_;
    unsetenv("bootimage");
  }
  void TearDown() override {
    transaction_.cancel();
    repository().console = nullptr;
    repository().messages.clear();
    unsetenv("bootimage");
  }

  static Repository& repository() { return Repository::instance(); }
  std::string at(const std::string& path) const { return scratch_.path() + path; }

  bool install(const std::string& file, Package& package, int32_t* next = nullptr) {
    return installFile(file, package, transaction_, next);
  }

  bool staged(const std::string& path) const { return transaction_.find(at(path)) != nullptr; }

  ScratchDir scratch_;
  Transaction transaction_{BoardPaths(scratch_.path())};
  std::ostringstream console_;
};

TEST_F(InstallContents, StagesEveryRegularFileByteForByteWithItsMode) {
  std::string large(40000, '\0');  // crosses the copy chunk twice
  for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 7 + i / 251);
  PackageRecipe recipe{fileRecord(0100750, 0, "bin/tool", "#!/bin/sh\n") + fileRecord(kFile, 0, "/lib/big", large) +
                       fileRecord(kDirectory, 0, "etc", "directory bytes") +
                       fileRecord(kSymlink, 0, "bin/link", "tool") + fileRecord(kFile, 0, "etc/empty", "") +
                       fileRecord(kFile, 0, "etc/twice", "first") + fileRecord(kFile, 0, "/etc/twice", "second")};
  recipe.image = std::string(10000, 'i');  // passed over, yet covered by the signature
  Package package;
  int32_t next = kNoPart;
  ASSERT_TRUE(install(packageFile(recipe), package, &next));
  EXPECT_EQ(next, kNoPart);  // the stream stands after the signature
  EXPECT_EQ(package.files, (std::set<std::string>{"/bin/tool", "/lib/big", "/etc/empty", "/etc/twice"}));
  EXPECT_EQ(repository().messages, std::vector<std::string>{"installed tools-6.41"});
  EXPECT_TRUE(repository().progressLine.empty());
  EXPECT_TRUE(staged("/flash/var/pdb/tools/files"));
  EXPECT_FALSE(staged("/flash/var/pdb/tools/version"));  // the stored image describes it
  EXPECT_FALSE(staged("/flash/UPGRADED"));

  transaction_.commit(false);
  EXPECT_EQ(readFile(at("/flash/bin/tool")), "#!/bin/sh\n");
  EXPECT_EQ(readFile(at("/flash/lib/big")), large);
  EXPECT_TRUE(pathExists(at("/flash/etc/empty")));
  EXPECT_EQ(readFile(at("/flash/etc/empty")), "");
  EXPECT_EQ(readFile(at("/flash/etc/twice")), "second");
  EXPECT_FALSE(pathExists(at("/flash/bin/link")));
  struct stat info;
  ASSERT_EQ(stat(at("/flash/bin/tool").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0750u);
  EXPECT_EQ(readFile(at("/flash/var/pdb/tools/files")), "bin/tool\netc/empty\netc/twice\nlib/big\n");
}

TEST_F(InstallContents, PathsFollowTheNameAndTheDisabledDirectory) {
  struct Case {
    bool disabled;
    const char* name;
    const char* relative;
  };
  for (const Case c : {Case{false, "bin/x", "/bin/x"}, Case{false, "/bin/x", "/bin/x"},
                       Case{true, "bin/x", "/x/tools/bin/x"}, Case{true, "/bin/x", "/x/tools/bin/x"},
                       Case{false, "bin/..x/.../y", "/bin/..x/.../y"}}) {
    ScratchDir root;
    Transaction transaction{BoardPaths(root.path())};
    Package package;
    package.disabled = c.disabled;
    ASSERT_TRUE(installFile(packageFile({fileRecord(kFile, 0, c.name, c.name)}), package, transaction))
        << c.name;
    EXPECT_EQ(package.files, std::set<std::string>{c.relative}) << c.name;
    transaction.commit(false);
    EXPECT_EQ(readFile(root.path() + "/flash" + c.relative), c.name);
  }
}

TEST_F(InstallContents, InstallsOnlyRecordsForTheBoardsClass) {
  struct Case {
    uint32_t pvr;
    std::set<std::string> files;
  };
  const std::string records = fileRecord(kFile, 0, "c0", "0") + fileRecord(kFile, 1, "c1", "1") +
                              fileRecord(kFile, 2, "c2", "2") + fileRecord(kFile, 3, "c3", "3") +
                              fileRecord(kFile, 4, "c4", "4") + fileRecord(kFile, 9, "c9", "9");
  for (const Case& c : {Case{0x00850010, {"/c0", "/c1"}},   // e300c3
                        Case{0x80210030, {"/c0", "/c2"}},   // v 0x21, not a shared-flash processor
                        Case{0x80040201, {"/c0"}}}) {       // no class
    FixedProcessorVersion pvr(c.pvr);
    ScopedProcessorVersion scoped(&pvr);
    Package package;
    ASSERT_TRUE(install(packageFile({records}), package)) << std::hex << c.pvr;
    EXPECT_EQ(package.files, c.files) << std::hex << c.pvr;
  }
}

TEST_F(InstallContents, EmptyContainerInstallsNothing) {
  Package package;
  ASSERT_TRUE(install(packageFile(PackageRecipe()), package));
  EXPECT_TRUE(package.files.empty());
  EXPECT_TRUE(staged("/flash/var/pdb/tools/files"));
}

// Where the decompressed data ends decides: inside a header or inside what
// is passed over, the container has ended; inside a name or content being
// installed, the package is broken. What came before stays staged.
TEST_F(InstallContents, ContainerCutShortEndsOrBreaksByWhereItEnds) {
  FixedProcessorVersion e300(0x00850010);
  ScopedProcessorVersion scoped(&e300);
  const std::string first = fileRecord(kFile, 0, "bin/a", "aaaa");
  const std::string second = fileRecord(kFile, 0, "bin/second", std::string(100, 's'));
  struct Case {
    const char* what;
    std::string records;
    bool installed;
  };
  const Case cases[] = {
      {"inside a header", first + second.substr(0, 12), true},
      {"inside a directory's content", first + fileRecord(kDirectory, 0, "d", std::string(100, 'd')).substr(0, 80),
       true},
      {"inside another class's file", first + fileRecord(kFile, 2, "c2", std::string(100, 'c')).substr(0, 80), true},
      {"inside a name", first + second.substr(0, 34), false},
      {"inside installed content", first + second.substr(0, 90), false},
  };
  for (const Case& c : cases) {
    Transaction transaction{BoardPaths(scratch_.path())};
    repository().messages.clear();
    Package package;
    EXPECT_EQ(installFile(packageFile({c.records}), package, transaction), c.installed) << c.what;
    EXPECT_NE(transaction.find(at("/flash/bin/a")), nullptr) << c.what;
    EXPECT_EQ(transaction.find(at("/flash/var/pdb/tools/version")) != nullptr, c.installed) << c.what;
    const std::vector<std::string> expected = {c.installed ? "installed tools-6.41" : kBroken};
    EXPECT_EQ(repository().messages, expected) << c.what;
    transaction.cancel();
  }
}

// What no signature covers must not follow a package either: a part, or a few
// bytes, after its signature make it broken.
TEST_F(InstallContents, MissingMisplacedOrWrongSignatureIsABrokenPackage) {
  const std::string parts = packageParts({fileRecord(kFile, 0, "bin/a", "a")});
  const std::string signedParts = signedPackageParts(developmentSigningKey(), parts);
  std::string wrong = signedParts;
  wrong[wrong.size() - 1] ^= 0x01;
  const std::string files[] = {
      PackageWriter().raw(parts).bytes(),
      PackageWriter().raw(parts + partHeader(kImagePart, 1) + "i").raw(wrong.substr(parts.size())).bytes(),
      PackageWriter().raw(wrong).bytes(),
      PackageWriter().raw(signedParts + partHeader(kConflictsPart, 34) + listPayload({Dependency{"system"}})).bytes(),
      PackageWriter().raw(signedParts + partHeader(7, 1) + "x").bytes(),
      PackageWriter().raw(signedParts + "xyz").bytes(),
      PackageWriter().raw(signedParts).lengthField(static_cast<uint32_t>(signedParts.size() + 1)).bytes(),
  };
  for (const std::string& file : files) {
    repository().messages.clear();
    Package package;
    EXPECT_FALSE(install(file, package));
    EXPECT_EQ(repository().messages, std::vector<std::string>{kBroken});
    EXPECT_FALSE(staged("/flash/var/pdb/tools/version"));
    transaction_.cancel();
  }
}

TEST_F(InstallContents, BootImageVariableKeepsABootImagePackagesFilesOut) {
  struct Case {
    uint32_t flags;
    bool variable;
    bool files;
    bool marker;
  };
  for (const Case c : {Case{PackageFlag::BootImage, true, false, true}, Case{PackageFlag::BootImage, false, true, true},
                       Case{0, true, true, false}}) {
    Transaction transaction{BoardPaths(scratch_.path())};
    if (c.variable) setenv("bootimage", "", 1);  // set, even empty, is enough
    Package package;
    ASSERT_TRUE(installFile(packageFile({fileRecord(kFile, 0, "bin/a", "a"), c.flags}), package, transaction));
    unsetenv("bootimage");
    EXPECT_EQ(!package.files.empty(), c.files) << c.flags << c.variable;
    EXPECT_EQ(transaction.find(at("/flash/bin/a")) != nullptr, c.files);
    EXPECT_NE(transaction.find(at("/flash/var/pdb/tools/version")), nullptr);
    EXPECT_EQ(transaction.find(at("/flash/UPGRADED")) != nullptr, c.marker);
    transaction.cancel();
  }
  // The signature is checked all the same.
  setenv("bootimage", "1", 1);
  std::string file = packageFile({"", PackageFlag::BootImage});
  file[file.size() - 1] ^= 0x01;
  Package package;
  EXPECT_FALSE(install(file, package));
  EXPECT_FALSE(staged("/flash/UPGRADED"));
}

TEST_F(InstallContents, MarkerIsAnEmptyFileAfterCommit) {
  Package package;
  ASSERT_TRUE(install(packageFile({"", PackageFlag::BootImage}), package));
  transaction_.commit(false);
  EXPECT_TRUE(pathExists(at("/flash/UPGRADED")));
  EXPECT_EQ(readFile(at("/flash/UPGRADED")), "");
}

// A plain file where the entry directory belongs: a registered package stops
// without a word, an unregistered one has no entry to check or write.
TEST_F(InstallContents, UnregisteredPackageInstallsFilesWithoutAnEntry) {
  ASSERT_TRUE(writeFile(at("/flash/var/pdb/tools"), "not a directory"));
  PackageRecipe recipe{fileRecord(kFile, 0, "bin/a", "a")};
  Package registered;
  EXPECT_FALSE(install(packageFile(recipe), registered));
  EXPECT_TRUE(repository().messages.empty());
  EXPECT_TRUE(transaction_.isEmpty());

  recipe.magic = kWriterUnregisteredMagic;
  Package unregistered;
  ASSERT_TRUE(install(packageFile(recipe), unregistered));
  EXPECT_EQ(unregistered.files, std::set<std::string>{"/bin/a"});
  for (const auto& op : transaction_) EXPECT_EQ(op.first, at("/flash/bin/a"));
}

// Names that would leave the flash root, name no file, or would read back
// from the `files` list as other files, are never staged.
TEST_F(InstallContents, HostileRecordNamesAreRefused) {
  for (const std::string& name : {std::string("../escaped"), std::string("/../escaped"),
                                  std::string("bin/../../escaped"), std::string(".."), std::string(""),
                                  std::string("bin/"), std::string("bin/."), std::string("bin\0/../../escaped", 18),
                                  std::string("bin/a\nescaped")}) {
    repository().messages.clear();
    Package package;
    EXPECT_FALSE(install(packageFile({fileRecord(kFile, 0, "bin/a", "a") + fileRecord(kFile, 0, name, "hostile")}),
                         package))
        << name;
    EXPECT_EQ(repository().messages, std::vector<std::string>{kBroken}) << name;
    EXPECT_EQ(package.files, std::set<std::string>{"/bin/a"}) << name;
    transaction_.commit(false);
    EXPECT_FALSE(pathExists(at("/escaped"))) << name;
    transaction_.cancel();
  }
}

TEST_F(InstallContents, LongNamesDoNotCrashAndUncreatableOnesAreReported) {
  const std::string longest(65535, 'n');
  Package package;
  EXPECT_FALSE(install(packageFile({fileRecord(kDirectory, 0, longest, "skipped") + fileRecord(kFile, 0, "bin/a", "a") +
                                    fileRecord(kFile, 0, longest, "too long")}),
                       package));
  ASSERT_EQ(repository().messages.size(), 1u);
  const std::string expected = "ERROR: installation of tools-6.41 failed: could not create " + std::string(100, 'n');
  EXPECT_EQ(repository().messages[0].rfind(expected, 0), 0u) << repository().messages[0];
  EXPECT_EQ(package.files, std::set<std::string>{"/bin/a"});
}

TEST_F(InstallContents, UncreatableFileIsReportedByItsStoredName) {
  ASSERT_TRUE(writeFile(at("/flash"), "a plain file"));
  Package package;
  EXPECT_FALSE(install(packageFile({fileRecord(kFile, 0, "sbin/tool", "t")}), package));
  EXPECT_EQ(repository().messages, std::vector<std::string>{
                                       "ERROR: installation of tools-6.41 failed: could not create sbin/tool: "
                                       "Not a directory"});
  EXPECT_TRUE(package.files.empty());

  // Nor can the boot image marker be staged: that fails the installation too.
  repository().messages.clear();
  PackageRecipe unregistered("", PackageFlag::BootImage);
  unregistered.magic = kWriterUnregisteredMagic;
  Package boot;
  EXPECT_FALSE(install(packageFile(unregistered), boot));
  EXPECT_EQ(repository().messages, std::vector<std::string>{
                                       "ERROR: installation of tools-6.41 failed: could not create "
                                       "/flash/UPGRADED: Not a directory"});
}

// The file does not fit on the flash, so it is staged on the RAM disk, which
// fills up while the content is written.
TEST_F(InstallContents, FullDiskIsReportedAsTooSmall) {
  TmpfsMount flash(scratch_ / "flash", 4 * 4096);
  if (!flash.mounted()) GTEST_SKIP() << flash.error();
  TmpfsMount ram(scratch_ / "ram", 4 * 4096);
  if (!ram.mounted()) GTEST_SKIP() << ram.error();
  Package package;
  EXPECT_FALSE(install(packageFile({fileRecord(kFile, 0, "bin/big", std::string(64 * 1024, 'b'))}), package));
  EXPECT_EQ(repository().messages,
            std::vector<std::string>{"ERROR: installation of tools-6.41 failed: disk is too small"});
  transaction_.cancel();
}

TEST_F(InstallContents, ReportsTheInstallUnlessABundleMemberAndShowsTheState) {
  struct Case {
    bool disabled;
    const char* bundle;
    const char* progress;
    std::vector<std::string> messages;
  };
  const Case cases[] = {
      {false, "", "installing tools-6.41 [", {"installed tools-6.41"}},
      {true, "", "installing  (disabled) tools-6.41 [", {"installed (disabled) tools-6.41"}},
      {true, "routing", "installing routing [", {}},
  };
  for (const Case& c : cases) {
    Transaction transaction{BoardPaths(scratch_.path())};
    repository().messages.clear();
    Package package;
    package.disabled = c.disabled;
    package.bundle.name = c.bundle;
    std::stringbuf source(packageFile(PackageRecipe()), std::ios::in);
    PackageStream stream(&source, true);
    for (uint32_t type : kInstallTypes) stream.acceptPart(type);
    stream.nextPart();
    ASSERT_TRUE(readPackageHeader(package, stream));
    showInstallProgress(repository(), package, stream);
    EXPECT_EQ(repository().progressLine.rfind(c.progress, 0), 0u) << repository().progressLine;
    InstallRun run{repository(), transaction, InstallFlags::None, {}};
    ASSERT_TRUE(installContents(run, package, stream));
    EXPECT_EQ(repository().messages, c.messages) << c.bundle;
    transaction.cancel();
  }
}

// The bar counts from the start of the file: the file header, the part
// header and what was read of the part, here half of a 100-byte file.
TEST_F(InstallContents, TheProgressBarCountsFromTheStartOfTheFile) {
  const std::string file = PackageWriter().part(kFileContainerPart, std::string(86, 'z')).bytes();
  std::stringbuf source(file, std::ios::in);
  PackageStream stream(&source, false);
  stream.acceptPart(kFileContainerPart);
  ASSERT_EQ(stream.nextPart(), kFileContainerPart);
  ASSERT_EQ(stream.fileSize(), 100u);
  char payload[36];
  ASSERT_TRUE(stream.read(payload, sizeof payload));
  Package ppp("ppp");
  showInstallProgress(repository(), ppp, stream);
  const std::string head = "installing ppp-0.0 [";  // 56 columns of bar
  EXPECT_EQ(repository().progressLine, head + std::string(28, '#') + std::string(28, ' ') + "]");
}

}  // namespace
