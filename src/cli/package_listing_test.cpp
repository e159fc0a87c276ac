#include "cli/package_listing.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <iomanip>
#include <locale>
#include <memory>
#include <sstream>
#include <string>

#include "support/scratch_dir.h"

#ifdef __SANITIZE_ADDRESS__
#include <sanitizer/lsan_interface.h>
#endif

namespace {

// Locale data that the C library loads stays loaded for the life of the
// process; the leak checker is told not to count it.
class LocaleDataScope {
 public:
#ifdef __SANITIZE_ADDRESS__
  LocaleDataScope() { __lsan_disable(); }
  ~LocaleDataScope() { __lsan_enable(); }
#else
  LocaleDataScope() {}
  ~LocaleDataScope() {}
#endif
};

const std::string kHeader = std::string(12, ' ') + "Name" + "    " + std::string(6, ' ') + "Version" + ' ' +
                            std::string(15, ' ') + "Built" + std::string(36, ' ') + "Note\n";
const std::string kRule = std::string(94, '-') + "\n";

Package* addPackage(Repository& repository, const std::string& name, Version version, uint32_t buildTime,
                    const std::string& description) {
  repository.packages.push_back(std::make_unique<Package>(name));
  Package* package = repository.packages.back().get();
  package->version = version;
  package->buildTime = buildTime;
  package->description = description;
  return package;
}

std::string listing(const Repository& repository) {
  std::ostringstream out;
  listPackages(repository, out);
  return out.str();
}

TEST(PackageListing, EmptyRepositoryPrintsHeaderAndRuleOnly) {
  Repository repository;
  const std::string text = listing(repository);
  EXPECT_EQ(text, kHeader + kRule);
  EXPECT_EQ(kHeader.size(), 95u);  // 94 characters and the line end
}

TEST(PackageListing, PackageLineIsRightAlignedInEveryColumn) {
  Repository repository;
  addPackage(repository, "system", makeVersion(6, 40, 'f', 1), 1700000000, "base system");
  const std::string line = std::string(10, ' ') + "system" + ' ' + ' ' + "  " + std::string(7, ' ') + "6.40.1" +
                           ' ' + "Nov/14/2023 22:13:20" + ' ' + std::string(29, ' ') + "base system\n";
  EXPECT_EQ(line.size(), 96u);  // 95 characters and the line end
  EXPECT_EQ(listing(repository), kHeader + kRule + line);
}

TEST(PackageListing, MarksAndDatesFollowEachPackagesState) {
  struct Case {
    const char* what;
    bool disabled;
    const char* bundle;
    uint32_t buildTime;
    const char* expectedMiddle;  // from the blank after the name to the blank before the note
  };
  const Case cases[] = {
      {"enabled, not a member", false, "", 1700000000, "    " "         6.41 Nov/14/2023 22:13:20 "},
      {"disabled", true, "", 1700000000, " X  " "         6.41 Nov/14/2023 22:13:20 "},
      {"bundle member", false, "routing", 1700000000, "  B " "         6.41 Nov/14/2023 22:13:20 "},
      {"disabled bundle member", true, "routing", 1700000000, " XB " "         6.41 Nov/14/2023 22:13:20 "},
      {"built at time 0", false, "", 0, "    " "         6.41 Jan/01/1970 00:00:00 "},
      {"placeholder times", false, "", 0xFFFFFFFF, "    " "         6.41 Feb/07/2106 06:28:15 "},
  };
  for (const Case& c : cases) {
    Repository repository;
    Package* package = addPackage(repository, "ppp", makeVersion(6, 41, 'f', 0), c.buildTime, "");
    package->disabled = c.disabled;
    package->bundle.name = c.bundle;
    const std::string expected = kHeader + kRule + std::string(13, ' ') + "ppp" + c.expectedMiddle +
                                 std::string(40, ' ') + "\n";
    EXPECT_EQ(listing(repository), expected) << c.what;
  }
}

TEST(PackageListing, LongTextsArePrintedWholeAndShiftTheLine) {
  Repository repository;
  const std::string longName = "wireless-drivers-extra";  // 22 characters
  const std::string longNote(45, 'n');
  addPackage(repository, longName, makeVersion(6, 41, 'b', 3), 0, longNote);
  const std::string line = longName + ' ' + ' ' + "  " + std::string(4, ' ') + "6.41beta3" + ' ' +
                           "Jan/01/1970 00:00:00" + ' ' + longNote + "\n";
  EXPECT_EQ(listing(repository), kHeader + kRule + line);
}

TEST(PackageListing, ListsEveryPackageInRepositoryOrder) {
  Repository repository;
  addPackage(repository, "zeta", makeVersion(1, 0, 'f', 0), 0, "");
  Package* doomed = addPackage(repository, "alpha", makeVersion(2, 0, 'f', 0), 0, "");
  doomed->action = PackageAction::Uninstall;
  Package* bundle = addPackage(repository, "routing", makeVersion(3, 0, 'f', 0), 0, "");
  bundle->isBundle = true;
  const std::string text = listing(repository);
  const size_t zeta = text.find("            zeta ");
  const size_t alpha = text.find("           alpha ");
  const size_t routing = text.find("         routing    ");  // a bundle carries no "B " itself
  ASSERT_NE(zeta, std::string::npos);
  ASSERT_NE(alpha, std::string::npos);
  ASSERT_NE(routing, std::string::npos);
  EXPECT_LT(zeta, alpha);
  EXPECT_LT(alpha, routing);
}

TEST(PackageListing, IgnoresAlignmentAndFillLeftOnTheStream) {
  Repository repository;
  addPackage(repository, "ppp", makeVersion(6, 41, 'f', 0), 0, "");
  std::ostringstream out;
  out << std::left << std::setfill('*');
  listPackages(repository, out);
  EXPECT_EQ(out.str(), listing(repository));
  // The caller's settings are given back.
  EXPECT_EQ(out.fill(), '*');
  EXPECT_TRUE(out.flags() & std::ios::left);
}

// The month is the English abbreviation even when the environment asks for a
// language whose month names differ ("Mär" for March in German).
TEST(PackageListing, MonthNamesStayEnglishUnderAnotherLocale) {
  ScratchDir scratch;
  // localedef runs on the host even when this test runs under an emulator:
  // the locale files must have the byte order of the processor that reads them.
  const std::string byteOrder = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__ ? "--big-endian " : "--little-endian ";
  const std::string build =
      "localedef -i de_DE -f UTF-8 " + byteOrder + scratch.path() + "/de_DE.UTF-8 >/dev/null 2>&1";
  if (std::system(build.c_str()) != 0) GTEST_SKIP() << "no German locale can be built here";
  LocaleDataScope localeData;
  setenv("LOCPATH", scratch.path().c_str(), 1);
  const std::string previous = setlocale(LC_ALL, nullptr);
  if (setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
    unsetenv("LOCPATH");
    GTEST_SKIP() << "the German locale cannot be selected";
  }

  Repository repository;
  addPackage(repository, "ppp", makeVersion(6, 41, 'f', 0), 1678800000, "");  // 2023-03-14
  const std::string text = listing(repository);

  setlocale(LC_ALL, previous.c_str());
  unsetenv("LOCPATH");
  EXPECT_NE(text.find(" Mar/14/2023 13:20:00 "), std::string::npos) << text;
}

}  // namespace
