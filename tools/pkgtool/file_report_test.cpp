#include "pkgtool/file_report.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "pkgtool/bundle_builder.h"
#include "pkgtool/package_builder.h"
#include "pkgtool/report_json.h"
#include "pkgtool/report_output.h"
#include "pkgtool/test_packages.h"
#include "support/package_writer.h"
#include "support/scratch_dir.h"

namespace {

class InspectorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(writeFile(dir_ / "tree/bin/tool", std::string(5000, 't')));
    ASSERT_TRUE(writeFile(dir_ / "tree/etc/conf", "c"));
    ASSERT_EQ(chmod((dir_ / "tree/bin/tool").c_str(), 0755), 0);
    BuildRequest request = basicRequest("tool");
    request.root = dir_ / "tree";
    request.classes["bin/tool"] = 3;
    request.header.provides = {{"ppp", 0, 0, -5}};
    std::string error;
    ASSERT_TRUE(buildPackage(request, keySigner(testKey()), dir_ / "p.vpa", &error)) << error;
    bytes_ = readFile(dir_ / "p.vpa");
  }

  FileReport inspect(const std::string& content) {
    EXPECT_TRUE(writeFile(dir_ / "x.vpa", content));
    FileReport report;
    std::string error;
    EXPECT_TRUE(inspectFile(dir_ / "x.vpa", testKey().publicKey, true, &report, &error)) << error;
    return report;
  }

  // The bytes of a bundle holding the package, which starts disabled.
  std::string bundleOfThePackage(bool image) {
    EXPECT_TRUE(writeFile(dir_ / "m.vpa", bytes_));
    BundleRequest bundle;
    bundle.header = basicRequest("suite").header;
    bundle.header.image = image;
    bundle.members = {dir_ / "m.vpa"};
    bundle.startDisabled = {"tool"};
    std::string error;
    EXPECT_TRUE(buildBundle(bundle, testKey().publicKey, dir_ / "b.vpa", &error)) << error;
    return readFile(dir_ / "b.vpa");
  }

  ScratchDir dir_;
  std::string bytes_;
};

TEST_F(InspectorTest, AWholePackageReadsWithItsRecordsAndAGoodSignature) {
  FileReport report = inspect(bytes_);
  EXPECT_FALSE(report.broken()) << report.layout.broken;
  ASSERT_EQ(report.packages.size(), 1u);
  const PackageReport& package = report.packages[0];
  EXPECT_EQ(package.info->name, "tool");
  EXPECT_EQ(package.offset, 8u);
  EXPECT_EQ(package.signature, SignatureVerdict::Ok);
  ASSERT_EQ(package.info->provides.size(), 1u);
  EXPECT_EQ(package.info->provides[0].priority, -5);
  ASSERT_EQ(package.files.size(), 2u);
  EXPECT_EQ(package.files[0].name, "bin/tool");
  EXPECT_EQ(package.files[0].mode, 0100755);
  EXPECT_EQ(package.files[0].processorClass, 3);
  EXPECT_EQ(package.files[0].size, 5000u);
  EXPECT_EQ(package.files[1].name, "etc/conf");
  EXPECT_TRUE(report.allSignaturesHold());
}

TEST_F(InspectorTest, ABadSignatureAndABrokenFileAreDistinctVerdicts) {
  struct Case {
    const char* what;
    size_t offset;       // byte to flip; SIZE_MAX: none
    int lengthChange;    // bytes cut off the end
    bool broken;
    SignatureVerdict verdict;
  };
  const size_t signatureHeader = bytes_.size() - 68 - 6;
  const Case cases[] = {
      {"name byte in the header part", 14, 0, false, SignatureVerdict::Bad},
      {"first byte of the header part's own header", 8, 0, true, SignatureVerdict::Missing},
      {"compressed data", 60, 0, false, SignatureVerdict::Bad},
      {"signature part length", signatureHeader + 2, 0, true, SignatureVerdict::Missing},
      {"digest in the signature", signatureHeader + 6, 0, false, SignatureVerdict::Bad},
      {"response in the signature", bytes_.size() - 1, 0, false, SignatureVerdict::Bad},
      {"magic", 0, 0, true, SignatureVerdict::Missing},
      {"length field", 4, 0, true, SignatureVerdict::Ok},
      {"last byte cut off", SIZE_MAX, 1, true, SignatureVerdict::Missing},
  };
  for (const Case& c : cases) {
    std::string damaged = bytes_.substr(0, bytes_.size() - c.lengthChange);
    if (c.offset != SIZE_MAX) damaged[c.offset] ^= 0x01;
    FileReport report = inspect(damaged);
    EXPECT_EQ(report.broken(), c.broken) << c.what << ": " << report.layout.broken;
    if (!c.broken) {
      ASSERT_EQ(report.packages.size(), 1u) << c.what;
      EXPECT_EQ(report.packages[0].signature, c.verdict) << c.what;
      EXPECT_FALSE(report.allSignaturesHold()) << c.what;
    }
  }
}

TEST_F(InspectorTest, TheFileHeaderAndBytesAfterTheSignatureAreNotSigned) {
  // The unregistered magic over the same parts still verifies.
  std::string other = bytes_;
  other[0] = static_cast<char>(0xFB), other[1] = 0x0F, other[2] = 0x10, other[3] = static_cast<char>(0xA1);
  FileReport report = inspect(other);
  EXPECT_EQ(std::string(magicName(report.layout)), "unregistered");
  ASSERT_EQ(report.packages.size(), 1u);
  EXPECT_EQ(report.packages[0].signature, SignatureVerdict::Ok);
}

TEST_F(InspectorTest, ReportsAMissingSignatureAndPartsOutOfPlace) {
  std::string header = headerPayload("nosig", makeVersion(1, 0, 'f', 0), 0, 0);
  FileReport missing = inspect(PackageWriter().part(1, header).part(4, zlibCompress("")).bytes());
  EXPECT_FALSE(missing.broken()) << missing.layout.broken;
  ASSERT_EQ(missing.packages.size(), 1u);
  EXPECT_EQ(missing.packages[0].signature, SignatureVerdict::Missing);
  EXPECT_FALSE(missing.allSignaturesHold());

  FileReport stray = inspect(PackageWriter().part(1, header).part(4, zlibCompress("")).part(16, "x").bytes());
  EXPECT_NE(stray.layout.broken.find("unexpected architecture part at offset"), std::string::npos)
      << stray.layout.broken;

  FileReport headless = inspect(PackageWriter().part(4, zlibCompress("")).bytes());
  EXPECT_NE(headless.layout.broken.find("unexpected file container part at offset 8"), std::string::npos)
      << headless.layout.broken;

  FileReport empty = inspect(PackageWriter().bytes());
  EXPECT_EQ(empty.layout.broken, "no package header");

  std::string record = fileRecord(0100644, 0, "a", "abc");
  FileReport cutName = inspect(PackageWriter().part(1, header).part(4, zlibCompress(record.substr(0, 30))).bytes());
  EXPECT_EQ(cutName.layout.broken, "nosig: file container ends inside the name of file record 1");
  FileReport cutContent =
      inspect(PackageWriter().part(1, header).part(4, zlibCompress(record + record.substr(0, 33))).bytes());
  EXPECT_EQ(cutContent.layout.broken, "nosig: file container ends inside the content of file record 2 (a)");

  FileReport noMembers = inspect(PackageWriter().part(18, header).bytes());
  EXPECT_EQ(noMembers.layout.broken, "bundle without members");
}

TEST_F(InspectorTest, ABundleHeaderIsCoveredByNoSignature) {
  std::string bytes = bundleOfThePackage(true);
  bytes[14] ^= 0x20;  // the bundle's name: "suite" becomes "Suite"
  FileReport report = inspect(bytes);
  EXPECT_FALSE(report.broken()) << report.layout.broken;
  ASSERT_EQ(report.packages.size(), 2u);
  EXPECT_EQ(report.packages[0].info->name, "Suite");
  EXPECT_TRUE(report.packages[0].info->isBundle);
  EXPECT_EQ(report.packages[0].signature, SignatureVerdict::None);
  EXPECT_EQ(report.packages[0].startDisabled, std::vector<std::string>{"tool"});
  EXPECT_EQ(report.packages[1].info->name, "tool");
  EXPECT_EQ(report.packages[1].signature, SignatureVerdict::Ok);
  EXPECT_EQ(report.packages[1].files.size(), 2u);
  EXPECT_TRUE(report.allSignaturesHold());
}

TEST_F(InspectorTest, NoDamageToASignedByteGoesUnnoticedAndNoCutFileReadsAsWhole) {
  const std::string whole = bundleOfThePackage(false);
  const size_t firstMember = whole.size() - (bytes_.size() - 8);
  for (size_t offset = 0; offset < whole.size(); ++offset) {
    std::string damaged = whole;
    damaged[offset] ^= 0x10;
    FileReport report = inspect(damaged);
    if (offset >= firstMember) {
      EXPECT_TRUE(report.broken() || !report.allSignaturesHold()) << "byte " << offset;
    }
    FileReport cut = inspect(whole.substr(0, offset));
    EXPECT_TRUE(cut.broken()) << "cut at " << offset;
  }
}

TEST(InspectOutput, ModesAndTimesReadAsPeopleWriteThem) {
  EXPECT_EQ(modeText(0100755), "-rwxr-xr-x");
  EXPECT_EQ(modeText(0104711), "-rws--x--x");
  EXPECT_EQ(modeText(0102640), "-rw-r-S---");
  EXPECT_EQ(modeText(0101777), "-rwxrwxrwt");
  EXPECT_EQ(modeText(040700), "drwx------");
  EXPECT_EQ(modeText(0120777), "lrwxrwxrwx");
  EXPECT_EQ(modeText(0010644), "?rw-r--r--");
  EXPECT_EQ(buildTimeText(0), "1970-01-01 00:00:00 UTC");
  EXPECT_EQ(buildTimeText(1700000000), "2023-11-14 22:13:20 UTC");
  EXPECT_EQ(buildTimeText(0xFFFFFFFF), "2106-02-07 06:28:15 UTC");
}

TEST_F(InspectorTest, JsonCarriesEveryFieldForScripts) {
  FileReport report = inspect(bytes_);
  nlohmann::json json = reportJson(report);
  EXPECT_EQ(json["magic"], "ordinary");
  EXPECT_EQ(json["broken"], "");
  EXPECT_EQ(json["verdict"], "ok");
  EXPECT_EQ(json["size"], bytes_.size());
  const nlohmann::json& package = json["packages"][0];
  for (const char* key : {"name", "version", "version_text", "build_time", "flags", "architecture", "description",
                          "has_image", "is_bundle", "depends", "provides", "conflicts", "start_disabled", "files",
                          "signature"})
    EXPECT_TRUE(package.contains(key)) << key;
  EXPECT_EQ(package["version_text"], "6.41beta3");
  EXPECT_EQ(package["version"], makeVersion(6, 41, 'b', 3));
  EXPECT_EQ(package["architecture"], "i386");
  EXPECT_EQ(package["provides"][0]["priority"], -5);
  EXPECT_EQ(package["files"][0]["class"], 3);
  EXPECT_EQ(package["files"][0]["mode"], "0100755");
  EXPECT_EQ(package["signature"], "ok");

  // Names and texts are bytes, not necessarily UTF-8.
  BuildRequest latin = basicRequest("caf\xE9");
  latin.header.description = "\xFF\xFE";
  std::string error;
  ASSERT_TRUE(buildPackage(latin, keySigner(testKey()), dir_ / "latin.vpa", &error)) << error;
  nlohmann::json parsed = nlohmann::json::parse(jsonText(reportJson(inspect(readFile(dir_ / "latin.vpa")))));
  const nlohmann::json& latinPackage = parsed["packages"][0];
  EXPECT_EQ(latinPackage["name"], "caf\xEF\xBF\xBD");
  EXPECT_EQ(latinPackage["name_hex"], "636166e9");
  EXPECT_EQ(latinPackage["description"], "\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(latinPackage["description_hex"], "fffe");
  EXPECT_FALSE(latinPackage.contains("architecture_hex"));
  // UTF-8 stays as it is, and needs no hex; overlong forms and surrogates do.
  struct Case {
    const char* bytes;
    bool hex;
  } texts[] = {{"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", false}, {"\xC0\xAF", true}, {"\xED\xA0\x80", true},
               {"\xE2\x82", true}, {"\xF4\x90\x80\x80", true}};
  for (const Case& c : texts) {
    FileReport named;
    named.path = c.bytes;
    nlohmann::json object = reportJson(named);
    EXPECT_EQ(object.contains("file_hex"), c.hex) << c.bytes;
  }

  std::string damaged = bytes_;
  damaged[0] ^= 1;
  nlohmann::json broken = reportJson(inspect(damaged));
  EXPECT_EQ(broken["magic"], "invalid");
  EXPECT_EQ(broken["broken"], "unknown magic 0xBAD0F11F");
  EXPECT_EQ(broken["verdict"], "BROKEN FILE");
  EXPECT_TRUE(broken["packages"].empty());
}

}  // namespace
