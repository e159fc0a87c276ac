#include "database/package_removal.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "platform/file_sink.h"
#include "staging/transaction.h"
#include "support/scratch_dir.h"

namespace {

class UninstallPackage : public ::testing::Test {
 protected:
  UninstallPackage() : transaction(BoardPaths(scratch.path())) { writeFile(scratch / "ram/.keep", ""); }

  std::string at(const std::string& path) const { return scratch.path() + path; }

  OpKind kindAt(const std::string& path) const {
    const StagedOp* op = transaction.find(at(path));
    EXPECT_NE(op, nullptr) << path;
    return op ? op->kind : OpKind::Move;
  }

  bool staged(const std::string& path) const { return transaction.find(at(path)) != nullptr; }

  ScratchDir scratch;
  Transaction transaction;
};

TEST_F(UninstallPackage, StagesRemovalOfItsFilesAndItsEntry) {
  writeFile(at("/flash/bin/tool"), "t");
  writeFile(at("/flash/x/tools/lib/a.so"), "a");
  writeFile(at("/flash/var/pdb/tools/version"), "1 2\n");
  writeFile(at("/flash/var/pdb/tools/image"), "image");
  Package tools("tools");
  tools.files = {"/bin/tool", "/x/tools/lib/a.so", "/bin/gone"};
  tools.action = PackageAction::Uninstall;

  uninstallPackage(tools, transaction);

  EXPECT_EQ(kindAt("/flash/bin/tool"), OpKind::Remove);
  EXPECT_EQ(kindAt("/flash/x/tools/lib/a.so"), OpKind::Remove);
  EXPECT_EQ(kindAt("/flash/var/pdb/tools/"), OpKind::Remove);
  EXPECT_EQ(kindAt("/flash/var/pdb/tools/image"), OpKind::Remove);
  EXPECT_FALSE(staged("/flash/bin/gone"));  // absent: nothing to remove
  EXPECT_FALSE(staged("/flash//bin/tool"));
  EXPECT_TRUE(tools.files.empty());
  EXPECT_EQ(tools.action, PackageAction::None);

  // Nothing is deleted before the commit.
  EXPECT_TRUE(pathExists(at("/flash/bin/tool")));
  transaction.commit(false);
  EXPECT_FALSE(pathExists(at("/flash/bin/tool")));
  EXPECT_FALSE(pathExists(at("/flash/var/pdb/tools")));
}

TEST_F(UninstallPackage, TakesBackWhatAnInstallEarlierInTheRunStaged) {
  Package fresh("fresh");
  FileSink(transaction.create(at("/flash/bin/fresh"), 5, 0)).sputn("fresh", 5);
  FileSink(transaction.create(at("/flash/var/pdb/fresh/version"), 32, 0)).sputn("1 2\n", 4);
  const std::string temporary = transaction.find(at("/flash/bin/fresh"))->source;
  fresh.files = {"/bin/fresh"};

  uninstallPackage(fresh, transaction);

  EXPECT_FALSE(staged("/flash/bin/fresh"));
  EXPECT_FALSE(staged("/flash/var/pdb/fresh/version"));
  EXPECT_FALSE(pathExists(temporary));
  EXPECT_TRUE(transaction.isEmpty());
}

TEST_F(UninstallPackage, RemovesTheBootImageOnlyWhenNothingElseLinksToIt) {
  struct Case {
    uint32_t flags;
    bool secondLink;
    bool removed;
  };
  for (const Case c :
       {Case{PackageFlag::BootImage, false, true}, Case{PackageFlag::BootImage, true, false}, Case{0, false, false}}) {
    Transaction local{BoardPaths(scratch.path())};
    unlink(at("/flash/bootimage.bak").c_str());
    writeFile(at("/flash/bootimage"), "kernel");
    if (c.secondLink) {
      ASSERT_EQ(link(at("/flash/bootimage").c_str(), at("/flash/bootimage.bak").c_str()), 0);
    }
    Package system("system");
    system.flags = c.flags;
    uninstallPackage(system, local);
    EXPECT_EQ(local.find(at("/flash/bootimage")) != nullptr, c.removed) << c.flags << " " << c.secondLink;
  }
}

TEST_F(UninstallPackage, RecordWithoutANameLeavesTheDatabaseAlone) {
  writeFile(at("/flash/var/pdb/tools/version"), "1 2\n");
  Package anonymous("");
  uninstallPackage(anonymous, transaction);
  EXPECT_TRUE(transaction.isEmpty());
}

// A damaged files list never reaches beyond the flash: such a path is left
// alone and returned, the package's other files go.
TEST_F(UninstallPackage, AListedPathThatNamesNoFileBelowTheFlashIsReportedAndLeftAlone) {
  writeFile(at("/flash/bin/tool"), "t");
  writeFile(at("/rw/sentinel"), "s");
  writeFile(at("/installer"), "i");
  Package tools("tools");
  tools.version = makeVersion(1, 0, 'f', 0);
  tools.files = {"/../rw/sentinel", "/bin/tool", "/bin/../../installer"};

  EXPECT_EQ(uninstallPackage(tools, transaction),
            (std::vector<std::string>{"/../rw/sentinel", "/bin/../../installer"}));
  transaction.commit(false);

  EXPECT_FALSE(pathExists(at("/flash/bin/tool")));
  EXPECT_TRUE(pathExists(at("/rw/sentinel")));
  EXPECT_TRUE(pathExists(at("/installer")));
}

}  // namespace
