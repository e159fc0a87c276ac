// The fuzz targets' seeds (fuzz/seeds, made by fuzz/make-seeds) through the readers the targets
// feed: read as a candidate (refused only when unreadable), inflated, and installed from a stream
// into a scratch board, which gives the verdict the file's name begins with.
#include <dirent.h>
#include <gtest/gtest.h>

#include "install/package_install.h"
#include "pkgfile/inflate_stream.h"
#include "pkgfile/package_file.h"
#include "platform/path_utils.h"
#include "platform/string_bytes.h"
#include "support/scratch_dir.h"

TEST(FuzzSeeds, EachGivesTheVerdictItsNameBeginsWith) {
  const char* const verdicts[] = {"installed", "resumed",           "skipped",    "not-newer", "refused",
                                  "withdrawn", "nothing-installed", "unreadable", "broken"};  // of InstallOutcome
  PosixFileSystem posixFs;
  ScratchDir board;
  for (const char* dir : {"flash/var/pdb", "ram"}) makeDirs(posixFs, board / dir);
  Console console;  // on standard output
  DIR* seeds = opendir(INSTALLER_FUZZ_SEEDS);
  ASSERT_NE(seeds, nullptr);
  for (const dirent* entry; (entry = readdir(seeds)) != nullptr;) {
    const std::string name = entry->d_name;
    if (name[0] == '.') continue;
    const std::string bytes = readFile(INSTALLER_FUZZ_SEEDS "/" + name);
    StringSource candidate(bytes), compressed(bytes), input(bytes);
    StringSink tee;
    PackageStream stream(&candidate, true);
    PackageInfo record;
    EXPECT_EQ(readPackageFileParts(record, stream), name.rfind("unreadable.", 0) != 0) << name;
    InflateStream(compressed).skip(1 << 20);
    Repository repository;
    repository.architecture = "i386";
    Transaction transaction{BoardPaths(posixFs, board.path())};
    InstallRun run{repository, console, transaction, InstallFlags::Upgrade | InstallFlags::Downgrade | InstallFlags::Reinstall, {}};
    const InstallOutcome outcome = installFromStream(run, &input, &tee).outcome;
    EXPECT_EQ(name.substr(0, name.find('.')), verdicts[static_cast<int>(outcome)]) << name;  // the console went to standard output
    for (const auto& staged : transaction) EXPECT_EQ(staged.first.rfind(board.path() + "/", 0), 0u) << staged.first;
    transaction.cancel();
  }
  closedir(seeds);
}
