#include "install/package_contents.h"

#include <gtest/gtest.h>

#include "database/package_database.h"
#include "pkgfile/package_stream.h"
#include "platform/processor_version.h"
#include "platform/string_bytes.h"
#include "staging/transaction.h"
#include "support/package_writer.h"
#include "support/scratch_dir.h"

namespace {

PosixFileSystem posixFs;
FILE* const nowhere = fopen("/dev/null", "w");  // the console keeps the messages

// Records of every processor class and then `last`, unpacked on a board of that processor version register: the
// files staged, the messages. A record cut where it is passed over ends the container, one cut in its name breaks the
// package; too long a name, or a name of too long a component, is refused.
TEST(PackageContents, InstallsTheRecordsOfTheBoardsClassUntilOneCannotBe) {
  std::string records;
  for (uint8_t c = 0; c <= 4; ++c) records += fileRecord(0100644, c, "c" + std::to_string(c), "x");
  const std::string deep = std::string(200, 'a') + "/" + std::string(255, 'b');  // every component fits
  const std::tuple<uint32_t, std::string, std::string> rows[] = {
      {0x00850010, "", "/c0 /c1 "}, {0x80210030, "", "/c0 /c2 "},  // e300c3, e500v2
      {0x80040201, fileRecord(0100644, 4, "c", "content").substr(0, 35), "/c0 "},
      {0x80040201, fileRecord(0100644, 0, "cut", "content").substr(0, 31), "failed: /c0 |broken package"},
      {0x80040201, fileRecord(0100644, 0, std::string(5000, 'n'), "x"), "failed: /c0 |could not create nnnnnnnnn"},
      {0x80040201, fileRecord(0100644, 0, deep, "x"), "/" + deep + " /c0 "},
      {0x80040201, fileRecord(0100644, 0, "d/" + std::string(256, 'n'), "x"),
       "failed: /c0 |could not create d/nnnnnnn"}};
  for (const auto& [pvr, last, expected] : rows) {
    ScratchDir scratch;
    FixedProcessorVersion processor(pvr);
    ScopedProcessorVersion scoped(&processor);
    Repository repository;
    Console console(nowhere);
    Transaction transaction{BoardPaths(posixFs, scratch.path())};
    InstallRun run{repository, console, transaction, InstallFlags::None, {}};
    StringSource file(PackageWriter().part(kFileContainerPart, zlibCompress(records + last)).bytes());
    PackageStream stream(&file, false);
    stream.acceptPart(kFileContainerPart);
    stream.nextPart();
    Package package("tools");
    std::string outcome = unpackFiles(run, package, stream) ? "" : "failed: ";
    for (const std::string& path : installedFiles(package, transaction.board(), &transaction)) outcome += path + " ";
    for (const std::string& message : console.messages()) outcome += "|" + message.substr(41, 26);
    EXPECT_EQ(outcome, expected) << std::hex << pvr;
  }
}

// A package's files are named by the transaction that staged them, in path order and each once, also one it stages
// twice and one another package staged before; its entry lists them so. Once the transaction has dropped them, the
// entry on the board names them, and saving the entry again leaves its list as it is.
TEST(PackageContents, APackagesFilesAreNamedByItsTransactionUntilItDropsThem) {
  ScratchDir scratch;
  Repository repository;
  Console console(nowhere);
  Transaction transaction{BoardPaths(posixFs, scratch.path())};
  InstallRun run{repository, console, transaction, InstallFlags::None, {}};
  ASSERT_TRUE(posixFs.close(transaction.create(transaction.board().installedFile("b"), 1, 0644)));
  std::string records;
  for (const char* name : {"c", "a", "b", "a", "d/e"}) records += fileRecord(0100644, 0, name, "x");
  StringSource file(PackageWriter().part(kFileContainerPart, zlibCompress(records)).bytes());
  PackageStream stream(&file, false);
  stream.acceptPart(kFileContainerPart);
  stream.nextPart();
  Package package("tools");
  ASSERT_TRUE(unpackFiles(run, package, stream) && writeEntry(package, transaction));
  const std::string list = transaction.board().entryDirectory("tools") + "files";
  EXPECT_EQ(readFile(transaction.find(list)->source), "a\nb\nc\nd/e\n");
  transaction.cancel();
  ASSERT_TRUE(writeEntry(package, transaction));
  EXPECT_FALSE(transaction.find(list).has_value());  // the list on the board stays as it is
  writeFile(list, "old\n");
  std::string named;
  for (const std::string& path : installedFiles(package, transaction.board(), &transaction)) named += path + " ";
  EXPECT_EQ(named, "/old ");
}

}  // namespace
