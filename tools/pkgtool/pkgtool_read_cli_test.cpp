// End-to-end tests of the pkgtool commands that read package files: inspect,
// verify, list, extract and sign, on packages the tool built, and version
// compare.
#include <sys/stat.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "pkgtool/pkgtool_cli_fixture.h"
#include "support/package_writer.h"
#include "support/tree_snapshot.h"

namespace {

// The bytes at which two files of the same size differ, as offset ranges.
std::vector<std::pair<size_t, size_t>> differences(const std::string& a, const std::string& b) {
  std::vector<std::pair<size_t, size_t>> ranges;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
    if (a[i] == b[i]) continue;
    if (!ranges.empty() && ranges.back().second == i)
      ++ranges.back().second;
    else
      ranges.push_back({i, i + 1});
  }
  return ranges;
}

// The payload ranges [offset + 6, offset + 6 + 68) of the signature parts a
// file's inspection shows.
std::vector<std::pair<size_t, size_t>> signaturePayloads(const nlohmann::json& inspection) {
  std::vector<std::pair<size_t, size_t>> ranges;
  for (const nlohmann::json& part : inspection["parts"]) {
    if (part["type"] != 9) continue;
    size_t start = part["offset"].get<size_t>() + 6;
    ranges.push_back({start, start + 68});
  }
  return ranges;
}

TEST_F(PkgtoolCli, InspectAndVerifyTellABadSignatureFromABrokenFile) {
  ASSERT_EQ(build(dir_ / "good.vpa").status, 0);
  std::string bytes = readFile(dir_ / "good.vpa");
  std::string flipped = bytes, badMagic = bytes, badLength = bytes;
  flipped[8 + 6 + 20] ^= 0x04;  // a byte of the build time in the signed header part
  badMagic[3] ^= 0x01;
  badLength[4] ^= 0x01;
  ASSERT_TRUE(writeFile(dir_ / "flipped.vpa", flipped));
  ASSERT_TRUE(writeFile(dir_ / "magic.vpa", badMagic));
  ASSERT_TRUE(writeFile(dir_ / "length.vpa", badLength));

  ToolRun good = run("inspect --key @k.pub @good.vpa");
  EXPECT_EQ(good.status, 0);
  for (const char* line : {"magic: ordinary (0xBAD0F11E)", "build time: 2023-11-14 22:13:20 UTC (1700000000)",
                           "-rwxr-xr-x     0      40003  bin/tool", "signature: ok", "verdict: ok"})
    EXPECT_TRUE(contains(good.out, line)) << line << "\n" << good.out;

  ToolRun badText = run("inspect --key @k.pub @flipped.vpa");
  EXPECT_EQ(badText.status, 1);
  EXPECT_TRUE(contains(badText.out, "signature: bad")) << badText.out;
  EXPECT_TRUE(contains(badText.out, "verdict: BAD SIGNATURE")) << badText.out;
  nlohmann::json badJson = nlohmann::json::parse(run("inspect --json --key @k.pub @flipped.vpa").out);
  EXPECT_EQ(badJson["broken"], "");
  EXPECT_EQ(badJson["verdict"], "BAD SIGNATURE");
  EXPECT_EQ(badJson["packages"][0]["signature"], "bad");

  for (const std::string damaged : {"@magic.vpa", "@length.vpa"}) {
    ToolRun text = run("inspect --key @k.pub " + damaged);
    EXPECT_EQ(text.status, 2) << damaged;
    EXPECT_TRUE(contains(text.out, "verdict: BROKEN FILE: ")) << text.out;
    ToolRun json = run("inspect --json --key @k.pub " + damaged);
    EXPECT_EQ(json.status, 2) << damaged;
    nlohmann::json object = nlohmann::json::parse(json.out);
    EXPECT_NE(object["broken"], "") << json.out;
    EXPECT_EQ(object["verdict"], "BROKEN FILE") << json.out;
  }
  ToolRun unreadable = run("inspect --json @missing.vpa");
  EXPECT_EQ(unreadable.status, 2);
  nlohmann::json error = nlohmann::json::parse(unreadable.out);
  EXPECT_EQ(error["verdict"], "UNREADABLE");
  EXPECT_EQ(error["error"], dir_ / "missing.vpa" + ": cannot open: No such file or directory");

  ToolRun verify = run("verify --key @k.pub @good.vpa @flipped.vpa");
  EXPECT_EQ(verify.status, 1);
  EXPECT_EQ(verify.out, dir_ / "good.vpa" + ": ok (1 package)\n" + dir_ / "flipped.vpa" +
                            ": BAD SIGNATURE: tool bad\n");
  ToolRun mixed = run("verify --key @k.pub @magic.vpa @flipped.vpa @missing.vpa");
  EXPECT_EQ(mixed.status, 2);
  EXPECT_TRUE(contains(mixed.out, dir_ / "magic.vpa" + ": BROKEN FILE: unknown magic 0xBBD0F11E\n")) << mixed.out;
  EXPECT_TRUE(contains(mixed.out, dir_ / "missing.vpa" + ": UNREADABLE: ")) << mixed.out;
  ToolRun length = run("verify --key @k.pub @length.vpa");
  EXPECT_EQ(length.status, 2);
  EXPECT_TRUE(contains(length.out, ": BROKEN FILE: file header gives a length of")) << length.out;

  // Without --key the key the build trusts decides, and it is not this one.
  EXPECT_EQ(run("verify @good.vpa").status, 1);
}

TEST_F(PkgtoolCli, StandardInputIsReadLikeAFile) {
  ASSERT_EQ(build(dir_ / "p.vpa").status, 0);
  const std::string bytes = readFile(dir_ / "p.vpa");
  ToolRun verify = run("verify --key @k.pub -", {}, bytes);
  EXPECT_EQ(verify.status, 0);
  EXPECT_EQ(verify.out, "-: ok (1 package)\n");
  ToolRun inspect = run("inspect --json --key @k.pub -", {}, bytes);
  EXPECT_EQ(inspect.status, 0);
  EXPECT_EQ(nlohmann::json::parse(inspect.out)["file"], "-");
  EXPECT_EQ(run("list -", {}, bytes).out, run("list @p.vpa").out);
  ToolRun empty = run("verify --key @k.pub -", {}, "");
  EXPECT_EQ(empty.status, 2);
  EXPECT_EQ(empty.out, "-: BROKEN FILE: shorter than the 8-byte file header\n");
}

TEST_F(PkgtoolCli, ListShowsEveryRecordOfAPackageAndOfEachBundleMember) {
  ASSERT_EQ(build(dir_ / "tool.vpa", {"--class", "bin/tool=2"}).status, 0);
  ASSERT_TRUE(writeFile(dir_ / "helper/a b", "12"));
  ASSERT_EQ(run("build --key @k.key --name helper --version 1.0 --root @helper -o @helper.vpa").status, 0);
  ASSERT_EQ(run("bundle --key @k.key --name suite --version 1.0 -o @b.vpa @tool.vpa @helper.vpa").status, 0);
  struct Case {
    std::string line;
    std::string out;
  } cases[] = {
      {"list @tool.vpa", "-rwxr-xr-x 2 40003 bin/tool\n-rw-r--r-- 0 10 etc/tool.conf\n-rw-r--r-- 0 0 lib/empty\n"},
      {"list -0 @helper.vpa", std::string("-rw-r--r-- 0 2 a b\0", 19)},
      {"list @b.vpa", "tool -rwxr-xr-x 2 40003 bin/tool\ntool -rw-r--r-- 0 10 etc/tool.conf\n"
                      "tool -rw-r--r-- 0 0 lib/empty\nhelper -rw-r--r-- 0 2 a b\n"},
  };
  for (const Case& c : cases) {
    ToolRun list = run(c.line);
    EXPECT_EQ(list.status, 0) << c.line << ": " << list.err;
    EXPECT_EQ(list.out, c.out) << c.line;
  }
  ASSERT_TRUE(writeFile(dir_ / "cut.vpa", readFile(dir_ / "tool.vpa").substr(0, 100)));
  ToolRun cut = run("list @cut.vpa");
  EXPECT_EQ(cut.status, 2);
  EXPECT_TRUE(contains(cut.err, "cut.vpa: broken package file: ")) << cut.err;
}

TEST_F(PkgtoolCli, ExtractGivesBackTheTreeAPackageWasBuiltFrom) {
  ASSERT_EQ(chmod((dir_ / "tree/etc/tool.conf").c_str(), 0600), 0);
  ASSERT_TRUE(writeFile(dir_ / "tree/sbin/setuid", "s"));
  ASSERT_EQ(chmod((dir_ / "tree/sbin/setuid").c_str(), 04750), 0);
  ASSERT_EQ(build(dir_ / "p.vpa").status, 0);
  ToolRun extract = run("extract --key @k.pub -C @out/new @p.vpa");
  ASSERT_EQ(extract.status, 0) << extract.err;
  EXPECT_EQ(extract.out, "extracted 4 files into " + dir_ / "out/new" + "\n");
  EXPECT_EQ(diffSnapshots(snapshotTree(dir_ / "tree"), snapshotTree(dir_ / "out/new")), "");

  // A board of class 2 takes the class-2 record too, any other board not.
  ASSERT_EQ(build(dir_ / "c.vpa", {"--class", "bin/tool=2"}).status, 0);
  for (const char* boardClass : {"0", "1", "2"}) {
    ASSERT_EQ(run(std::string("extract --key @k.pub --class ") + boardClass + " -C @class" + boardClass + " @c.vpa")
                  .status, 0);
    EXPECT_EQ(pathExists(dir_ / ("class" + std::string(boardClass)) + "/bin/tool"), boardClass[0] == '2');
  }
}

TEST_F(PkgtoolCli, ExtractWritesNothingOfAFileTheInstallerWouldRefuse) {
  ASSERT_EQ(build(dir_ / "p.vpa").status, 0);
  // A record named to climb out of the flash root, and one the board passes
  // over because it is meant for class 3.
  const std::string records = fileRecord(0100644, 0, "ok", "x") + fileRecord(0100644, 3, "../passed-over", "y") +
                              fileRecord(0100644, 0, "a/../../escape", "z");
  ASSERT_TRUE(PackageWriter().part(1, headerPayload("evil", makeVersion(1, 0, 'f', 0))).part(4, zlibCompress(records))
                  .writeTo(dir_ / "unsigned.vpa"));
  ASSERT_EQ(run("sign --key @k.key -o @evil.vpa @unsigned.vpa").status, 0);
  struct Case {
    std::string line;
    int status;
    std::string inError;
  } cases[] = {
      {"extract -C @out @p.vpa", 1, "p.vpa: a signature is bad or missing; nothing was written"},
      {"extract --key @k.pub -C @out @unsigned.vpa", 1, "a signature is bad or missing"},
      {"extract --key @k.pub -C @out @evil.vpa", 2,
       "evil: the installer refuses the file record name \"a/../../escape\""},
      {"extract --no-verify -C @out @evil.vpa", 2, "\"a/../../escape\"; nothing was written"},
      {"extract --key @k.pub --class 5 -C @out @p.vpa", 4, "--class \"5\""},
      {"extract --key @k.pub @p.vpa", 4, "-C DIR is required"},
  };
  for (const Case& c : cases) {
    ToolRun refused = run(c.line);
    EXPECT_EQ(refused.status, c.status) << c.line << ": " << refused.err;
    EXPECT_TRUE(contains(refused.err, c.inError)) << c.line << ": " << refused.err;
    EXPECT_FALSE(pathExists(dir_ / "out")) << c.line;
  }
  ToolRun unverified = run("extract --no-verify -C @out @p.vpa");
  EXPECT_EQ(unverified.status, 0) << unverified.err;
}

TEST_F(PkgtoolCli, SignReplacesOnlyTheSignaturesOfAPackageAndOfEveryBundleMember) {
  ASSERT_EQ(run("keygen -o @release.key --public @release.pub").status, 0);
  ASSERT_EQ(build(dir_ / "tool.vpa").status, 0);
  ASSERT_EQ(run("build --key @k.key --name helper --version 1.0 -o @helper.vpa").status, 0);
  ASSERT_EQ(run("bundle --key @k.key --name suite --version 1.0 -o @b.vpa @tool.vpa @helper.vpa").status, 0);
  for (const std::string name : {"tool.vpa", "b.vpa"}) {
    ToolRun sign = run("sign --key @release.key -o @signed-" + name + " @" + name);
    ASSERT_EQ(sign.status, 0) << sign.err;
    const std::string before = readFile(dir_ / name), after = readFile(dir_ / ("signed-" + name));
    ASSERT_EQ(before.size(), after.size());
    nlohmann::json inspection = nlohmann::json::parse(run("inspect --json --key @release.pub @signed-" + name).out);
    EXPECT_EQ(inspection["verdict"], "ok") << name;
    // Every byte that differs lies in a signature part's payload.
    for (const auto& range : differences(before, after)) {
      bool inPayload = false;
      for (const auto& payload : signaturePayloads(inspection))
        inPayload = inPayload || (range.first >= payload.first && range.second <= payload.second);
      EXPECT_TRUE(inPayload) << name << ": bytes " << range.first << " to " << range.second;
    }
    EXPECT_EQ(run("verify --key @k.pub @signed-" + name).status, 1) << name;
  }
  EXPECT_EQ(run("sign --key @release.key -o @signed-tool.vpa @signed-tool.vpa").out,
            "signed " + dir_ / "signed-tool.vpa" + ": 1 package\n");
  EXPECT_EQ(run("verify --key @release.pub @signed-tool.vpa").status, 0);

  // A package without a signature part gets one; a broken file is refused.
  ASSERT_TRUE(PackageWriter().part(1, headerPayload("bare", makeVersion(1, 0, 'f', 0))).writeTo(dir_ / "bare.vpa"));
  ASSERT_EQ(run("sign --key @release.key -o @bare-signed.vpa @bare.vpa").status, 0);
  EXPECT_EQ(run("verify --key @release.pub @bare-signed.vpa").status, 0);
  ASSERT_TRUE(writeFile(dir_ / "cut.vpa", readFile(dir_ / "tool.vpa").substr(0, 60)));
  ToolRun cut = run("sign --key @release.key -o @cut-signed.vpa @cut.vpa");
  EXPECT_EQ(cut.status, 2);
  EXPECT_FALSE(pathExists(dir_ / "cut-signed.vpa"));
}

TEST_F(PkgtoolCli, VersionCompareUsesTheSystemsOrderOfStages) {
  struct Case {
    const char* line;
    int status;
  } cases[] = {
      {"6.41alpha lt 6.41alpha1", 0}, {"6.41alpha2 lt 6.41beta", 0}, {"6.41beta9 lt 6.41rc1", 0},
      {"6.41rc9 lt 6.41", 0},         {"6.41 lt 6.41.1", 0},         {"6.41.1 lt 6.42alpha", 0},
      {"6.41 le 6.41", 0},            {"6.41 eq 6.41", 0},           {"6.41 ne 6.41", 1},
      {"6.41 ge 6.41rc2", 0},         {"6.41rc2 gt 6.41", 1},        {"10.0 gt 9.255", 0},
      {"6.41 lt 6.41beta3", 1},       {"6.41 eq 6.41.0", 4},         {"6.41 like 6.41", 4},
      {"6.41 lt", 4},
  };
  for (const Case& c : cases) {
    ToolRun compare = run(std::string("version compare ") + c.line);
    EXPECT_EQ(compare.status, c.status) << c.line << ": " << compare.err;
  }
}

}  // namespace
