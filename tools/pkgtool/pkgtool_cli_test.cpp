// End-to-end tests of the pkgtool executable: keys, packages and bundles made
// by the real binary, read back through the installer's own reader.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <memory>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "pkgfile/package_file.h"
#include "pkgtool/pkgtool_cli_fixture.h"
#include "pkgtool/test_packages.h"
#include "signature/signing_key.h"

namespace {

TEST_F(PkgtoolCli, HelpDocumentsEveryCommandItsOptionsAndExitStatuses) {
  ToolRun overview = pkgtool({"--help"});
  EXPECT_EQ(overview.status, 0);
  const std::vector<std::string> exits = {"\n  0  ", "\n  4  the command line is wrong"};
  // Each command with every option its help must name and the statuses besides 0 and 4.
  struct Case {
    std::string command;
    std::vector<std::string> words;
  } cases[] = {
      {"keygen", {"-o FILE.key", "--public FILE.pub", "--from FILE.key", "\n  3  "}},
      {"build", {"--key", "--name", "--version", "-o", "--root", "--build-time", "SOURCE_DATE_EPOCH", "--arch",
                 "--description", "--depends", "--conflicts", "--provides", "--class", "--boot-image", "--no-metadata",
                 "--image", "--unregistered", "\n  3  "}},
      {"bundle", {"--key", "--name", "--version", "-o", "--arch", "--description", "--build-time",
                  "--start-disabled", "--no-image", "\n  3  "}},
      {"sign", {"--key", "-o", "\n  2  ", "\n  3  "}},
      {"inspect", {"--json", "--key", "\n  1  ", "\n  2  "}},
      {"verify", {"--key", "\n  1  ", "\n  2  "}},
      {"list", {"-0", "\n  2  "}},
      {"extract", {"-C DIR", "--class N", "--no-verify", "--key", "\n  1  ", "\n  2  ", "\n  3  "}},
      {"version", {"compare", "lt le eq ne ge gt", "\n  1  "}},
      {"files", {"-r ROOT", "\n  1  ", "\n  2  "}},
      {"owner", {"-r ROOT", "\n  1  ", "\n  2  "}},
      {"status", {"-r ROOT", "\n  1  ", "\n  2  "}},
      {"plan", {"-r ROOT", "--down", "--reinstall", "--json", "\n  1  ", "\n  2  "}},
  };
  for (const Case& c : cases) {
    ToolRun help = pkgtool({"help", c.command});
    EXPECT_EQ(help.status, 0) << c.command;
    EXPECT_EQ(pkgtool({c.command, "--help"}).out, help.out) << c.command;
    EXPECT_TRUE(contains(overview.out, "  pkgtool " + c.command + " ")) << c.command;
    std::vector<std::string> words = c.words;
    words.insert(words.end(), exits.begin(), exits.end());
    for (const std::string& word : words) EXPECT_TRUE(contains(help.out, word)) << c.command << ": " << word;
  }
  ToolRun version = pkgtool({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_TRUE(contains(version.out, "pkgtool ")) << version.out;
  struct Refusal {
    std::vector<std::string> args;
    std::string inError;
  } refusals[] = {{{}, "Usage: pkgtool"}, {{"frobnicate"}, "unknown command frobnicate"},
                  {{"help", "frobnicate"}, "no command frobnicate"},
                  {{"build", "--bogus"}, "unknown option --bogus\nTry 'pkgtool help build'."}};
  for (const Refusal& refusal : refusals) {
    ToolRun refused = pkgtool(refusal.args);
    EXPECT_EQ(refused.status, 4);
    EXPECT_TRUE(contains(refused.err, refusal.inError)) << refused.err;
  }
}

TEST_F(PkgtoolCli, KeygenMakesAPrivateKeyOnlyItsOwnerReadsAndNeverOverwritesIt) {
  struct stat st;
  ASSERT_EQ(stat((dir_ / "k.key").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  PrivateKey key;
  PublicKey publicKey;
  std::string error;
  ASSERT_TRUE(readPrivateKeyFile(dir_ / "k.key", &key, &error)) << error;
  ASSERT_TRUE(readPublicKeyFile(dir_ / "k.pub", &publicKey, &error)) << error;
  EXPECT_EQ(std::string(reinterpret_cast<char*>(key.publicKey.point), 32),
            std::string(reinterpret_cast<char*>(publicKey.point), 32));

  // Neither half is ever overwritten; the public half of a kept key is made again.
  const std::string privateText = readFile(dir_ / "k.key"), publicText = readFile(dir_ / "k.pub");
  struct Case {
    const char* line;
    int status;
    const char* inError;
  } cases[] = {
      {"keygen -o @k.key", 3, "k.key: already exists"},
      {"keygen -o @new.key --public @k.pub", 3, "k.pub: already exists"},
      {"keygen --from @k.key --public @k.pub", 3, "k.pub: already exists"},
      {"keygen --from @k.key --public @again.pub", 0, ""},
      {"keygen --from @k.key -o @x.key --public @x.pub", 4, "--from makes only the public file"},
      {"keygen --from @k.key", 4, "--from needs --public FILE.pub"},
  };
  for (const Case& c : cases) {
    ToolRun keygen = run(c.line);
    EXPECT_EQ(keygen.status, c.status) << c.line << ": " << keygen.err;
    EXPECT_TRUE(contains(keygen.err, c.inError)) << c.line << ": " << keygen.err;
  }
  EXPECT_EQ(readFile(dir_ / "k.key"), privateText);
  EXPECT_EQ(readFile(dir_ / "k.pub"), publicText);
  EXPECT_EQ(readFile(dir_ / "again.pub"), publicText);
  EXPECT_FALSE(pathExists(dir_ / "new.key") || pathExists(dir_ / "x.key") || pathExists(dir_ / "x.pub"));
}

TEST_F(PkgtoolCli, BuildWritesEveryOptionSoThatTheReaderReadsItBack) {
  ToolRun built = build(dir_ / "p.vpa", {"--arch", "", "--description", "a tool", "--depends", "system:6.40",
                                   "--depends", "dhcp::6.49.2", "--provides", "ppp:1.0:2.0:-3", "--conflicts",
                                   "old-tool", "--boot-image", "--no-metadata", "--image", "--class", "bin/tool=2"});
  ASSERT_EQ(built.status, 0) << built.err;
  PackageFile record;
  ASSERT_TRUE(loadPackageFile(record, dir_ / "p.vpa"));
  EXPECT_EQ(record.name, "tool");
  EXPECT_EQ(versionText(record.version), "6.41beta3");
  EXPECT_EQ(record.buildTime, 1700000000u);
  EXPECT_EQ(record.flags, 3u);
  EXPECT_EQ(record.architecture, "");
  EXPECT_EQ(record.description, "a tool");
  EXPECT_TRUE(record.hasImage);
  ASSERT_EQ(record.depends.size(), 2u);
  EXPECT_EQ(record.depends[0].min, makeVersion(6, 40, 'f', 0));
  EXPECT_EQ(record.depends[1].max, makeVersion(6, 49, 'f', 2));
  ASSERT_EQ(record.provides.size(), 1u);
  EXPECT_EQ(record.provides[0].priority, -3);
  EXPECT_EQ(record.provides[0].max, makeVersion(2, 0, 'f', 0));
  ASSERT_EQ(record.conflicts.size(), 1u);
  EXPECT_EQ(record.conflicts[0].name, "old-tool");

  std::vector<StoredRecord> records;
  ASSERT_TRUE(readStoredRecords(dir_ / "p.vpa", &records));
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].name, "bin/tool");
  EXPECT_EQ(records[0].mode, 0100755);
  EXPECT_EQ(records[0].processorClass, 2);
  EXPECT_TRUE(records[0].content == readFile(dir_ / "tree/bin/tool"));
  EXPECT_EQ(records[2].name, "lib/empty");

  ToolRun verify = run("verify --key @k.pub @p.vpa");
  EXPECT_EQ(verify.status, 0) << verify.out;
  EXPECT_EQ(verify.out, dir_ / "p.vpa" + ": ok (1 package)\n");
}

TEST_F(PkgtoolCli, InspectShowsBothBoundsOfARange) {
  ASSERT_EQ(build(dir_ / "p.vpa", {"--depends", "a:1.0:2.0", "--provides", "b:6.41beta3:6.41rc2:1"}).status, 0);
  ToolRun inspect = run("inspect --key @k.pub @p.vpa");
  EXPECT_TRUE(contains(inspect.out, "    a 1.0 to 2.0\n")) << inspect.out;
  EXPECT_TRUE(contains(inspect.out, "    b 6.41beta3 to 6.41rc2, priority 1\n")) << inspect.out;
}

TEST_F(PkgtoolCli, BuildsOfTheSameTreeAreByteIdenticalUnderSourceDateEpoch) {
  const std::string build = "build --key @k.key --name tool --version 1.0 --root @tree -o ";
  for (const char* more : {"@1.vpa", "@2.vpa", "@3.vpa --build-time 99"})
    ASSERT_EQ(run(build + more, {"SOURCE_DATE_EPOCH=1234"}).status, 0) << more;
  EXPECT_TRUE(readFile(dir_ / "1.vpa") == readFile(dir_ / "2.vpa"));
  PackageFile record;
  ASSERT_TRUE(loadPackageFile(record, dir_ / "1.vpa"));
  EXPECT_EQ(record.buildTime, 1234u);
  ASSERT_TRUE(loadPackageFile(record, dir_ / "3.vpa"));
  EXPECT_EQ(record.buildTime, 99u);  // the option wins over the environment
}

TEST_F(PkgtoolCli, ABuildLeavesOutItsOwnOutputAndWarnsOfEmptyDirectories) {
  ASSERT_EQ(mkdir((dir_ / "tree/var").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((dir_ / "tree/var/empty").c_str(), 0755), 0);
  ASSERT_EQ(build(dir_ / "tree/p.vpa").status, 0);
  ToolRun again = build(dir_ / "tree/p.vpa");
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(again.err, "pkgtool build: warning: empty directory var/empty is not packaged\n"
                       "pkgtool build: warning: p.vpa is the output; it is left out of the package\n");
  std::vector<StoredRecord> records;
  ASSERT_TRUE(readStoredRecords(dir_ / "tree/p.vpa", &records));
  EXPECT_EQ(records.size(), 3u);
}

TEST_F(PkgtoolCli, ARefusedBuildSaysWhatIsWrongAndWritesNothing) {
  ASSERT_TRUE(writeFile(dir_ / "fifo-tree/a", "a"));
  ASSERT_EQ(mkfifo((dir_ / "fifo-tree/pipe").c_str(), 0600), 0);
  ASSERT_TRUE(writeFile(dir_ / "newline-tree/bin/a\nb", "a"));
  ASSERT_EQ(mkdir((dir_ / "out").c_str(), 0755), 0);
  // Usage errors end with status 4, failures while building with 3.
  struct Case {
    std::string words;
    std::string env;
    int status;
    std::string inError;
  } cases[] = {
      {"--key @k.key --name t --version 6.40.0 -o @out/p.vpa", "", 4, "write \"6.40\""},
      {"--key @k.key --name t --version 1.0 --root @fifo-tree -o @out/p.vpa", "", 3, "fifo-tree/pipe: a named pipe"},
      {"--key @k.key --name t --version 1.0 --root @newline-tree -o @out/p.vpa", "", 3,
       "\"bin/a\\nb\": a file name holding a newline cannot be packaged"},
      {"--key @none.key --name t --version 1.0 -o @out/p.vpa", "", 3, "none.key: cannot open: No such file"},
      {"--key @k.pub --name t --version 1.0 -o @out/p.vpa", "", 3, "private-key"},
      {"--key @k.key --name t --version 1.0 -o @out/p.vpa", "SOURCE_DATE_EPOCH=yesterday", 4, "SOURCE_DATE_EPOCH"},
      {"--key @k.key --name t --version 1.0 --class bin/none=1 --root @tree -o @out/p.vpa", "", 3,
       "--class bin/none: no such file"},
      {"--key @k.key --name t --version 1.0 --class bin/tool=9 -o @out/p.vpa", "", 4, "--class"},
      {"--key @k.key --name t --version 1.0 --depends a:2.0:1.0 -o @out/p.vpa", "", 4, "--depends"},
      {"--key @k.key --name t --version 1.0 --bogus -o @out/p.vpa", "", 4, "unknown option --bogus"},
      {"--key @k.key --name t --version 1.0", "", 4, "-o is required"},
      {"--key @k.key --name t --version", "", 4, "--version needs a value"},
      {"--key @k.key --name a/b --version 1.0 -o @out/p.vpa", "", 4, "\"a/b\""},
  };
  for (const Case& c : cases) {
    ToolRun refused = run("build " + c.words, c.env.empty() ? std::vector<std::string>{} : std::vector{c.env});
    EXPECT_EQ(refused.status, c.status) << c.words << ": " << refused.err;
    EXPECT_TRUE(contains(refused.err, c.inError)) << c.inError << ": " << refused.err;
  }
  // Nothing at all was left in the output directory.
  EXPECT_EQ(rmdir((dir_ / "out").c_str()), 0);
}

TEST_F(PkgtoolCli, AnInterruptedBuildLeavesNothingBehind) {
  // A large file of zeros keeps the build busy while the signal comes.
  ASSERT_EQ(mkdir((dir_ / "big").c_str(), 0755), 0);
  ASSERT_TRUE(writeFile(dir_ / "big/zeros", ""));
  ASSERT_EQ(truncate((dir_ / "big/zeros").c_str(), 1 << 30), 0);
  ASSERT_EQ(mkdir((dir_ / "out").c_str(), 0755), 0);
  for (int signal : {SIGINT, SIGTERM}) {
    pid_t pid = startPkgtool({"build", "--key", dir_ / "k.key", "--name", "big", "--version", "1.0", "--root",
                              dir_ / "big", "-o", dir_ / "out/big.vpa"});
    // The temporary output appears once the tree has been read.
    bool started = false;
    for (int wait = 0; wait < 60000 && !started; ++wait) {
      std::unique_ptr<DIR, int (*)(DIR*)> out(opendir((dir_ / "out").c_str()), closedir);
      while (dirent* entry = readdir(out.get())) started = started || entry->d_name[0] != '.';
      if (!started) usleep(1000);
    }
    EXPECT_TRUE(started);
    kill(pid, signal);
    EXPECT_EQ(waitForPkgtool(pid), 128 + signal);
    EXPECT_EQ(rmdir((dir_ / "out").c_str()), 0) << "signal " << signal;
    mkdir((dir_ / "out").c_str(), 0755);
  }
}

TEST_F(PkgtoolCli, BundlesCarryTheirMembersStartDisabledListAndImage) {
  ASSERT_EQ(build(dir_ / "tool.vpa", {"--arch", "powerpc"}).status, 0);
  ASSERT_EQ(run("build --key @k.key --name helper --version 2.0 --build-time 5 --arch powerpc -o @helper.vpa").status, 0);
  ToolRun bundle = run("bundle --key @k.key --name suite --version 6.41 --build-time 7 --start-disabled helper "
                       "--arch powerpc -o @b.vpa @tool.vpa @helper.vpa");
  ASSERT_EQ(bundle.status, 0) << bundle.err;
  EXPECT_EQ(bundle.err, "");

  PackageFile record;
  ASSERT_TRUE(loadPackageFile(record, dir_ / "b.vpa"));
  EXPECT_TRUE(record.isBundle);
  EXPECT_TRUE(record.hasImage);
  EXPECT_EQ(record.architecture, "powerpc");
  ASSERT_EQ(record.members.size(), 2u);
  EXPECT_EQ(record.members[0]->name, "tool");
  EXPECT_EQ(record.members[1]->name, "helper");

  ToolRun inspect = run("inspect --json --key @k.pub @b.vpa");
  ASSERT_EQ(inspect.status, 0) << inspect.out << inspect.err;
  nlohmann::json json = nlohmann::json::parse(inspect.out);
  ASSERT_EQ(json["packages"].size(), 3u);
  EXPECT_EQ(json["packages"][0]["is_bundle"], true);
  EXPECT_EQ(json["packages"][0]["signature"], "none");
  EXPECT_EQ(json["packages"][0]["start_disabled"], nlohmann::json::array({"helper"}));
  EXPECT_EQ(json["packages"][1]["signature"], "ok");
  EXPECT_EQ(json["packages"][1]["files"].size(), 3u);
  EXPECT_EQ(json["packages"][2]["signature"], "ok");

  ToolRun noImage = run("bundle --key @k.key --name suite --version 6.41 --no-image -o @n.vpa @tool.vpa");
  ASSERT_EQ(noImage.status, 0) << noImage.err;
  EXPECT_TRUE(contains(noImage.err, "warning: " + dir_ / "n.vpa" + " has no image part")) << noImage.err;
  PackageFile withoutImage;
  ASSERT_TRUE(loadPackageFile(withoutImage, dir_ / "n.vpa"));
  EXPECT_FALSE(withoutImage.hasImage);

  ToolRun stranger =
      run("bundle --key @k.key --name suite --version 6.41 --start-disabled nobody -o @s.vpa @tool.vpa");
  EXPECT_EQ(stranger.status, 3);
  EXPECT_TRUE(contains(stranger.err, "--start-disabled nobody: no member")) << stranger.err;
  EXPECT_FALSE(pathExists(dir_ / "s.vpa"));
}

TEST_F(PkgtoolCli, BundlesNamedLikeAMemberAreRefusedAndOtherArchitecturesWarned) {
  ASSERT_EQ(build(dir_ / "tool.vpa").status, 0);
  ASSERT_EQ(run("build --key @k.key --name helper --version 2.0 --arch powerpc -o @helper.vpa").status, 0);
  ToolRun named = run("bundle --key @k.key --name tool --version 6.41 -o @b.vpa @helper.vpa @tool.vpa");
  EXPECT_EQ(named.status, 3);
  EXPECT_TRUE(contains(named.err, "tool.vpa: the bundle cannot be named like its member tool")) << named.err;
  EXPECT_FALSE(pathExists(dir_ / "b.vpa"));

  ToolRun mixed = run("bundle --key @k.key --name suite --version 6.41 --arch powerpc -o @b.vpa @helper.vpa @tool.vpa");
  EXPECT_EQ(mixed.status, 0) << mixed.err;
  EXPECT_EQ(mixed.err, "pkgtool bundle: warning: member tool is made for \"i386\", the bundle for \"powerpc\"\n");
}

TEST_F(PkgtoolCli, PackagesSignedWithTheTrustedKeyVerifyWithoutAKeyOption) {
  PrivateKey trusted;
  std::string error;
  if (!readPrivateKeyFile(PKGTOOL_TRUSTED_PRIVATE_KEY, &trusted, &error) ||
      std::string(reinterpret_cast<const char*>(trusted.publicKey.point), 32) !=
          std::string(reinterpret_cast<const char*>(builtInKey().point), 32))
    GTEST_SKIP() << "the build trusts a key whose private half is not in the tree";
  ToolRun built =
      pkgtool({"build", "--key", PKGTOOL_TRUSTED_PRIVATE_KEY, "--name", "t", "--version", "1.0", "-o", dir_ / "t.vpa"});
  ASSERT_EQ(built.status, 0) << built.err;
  ToolRun verify = run("verify @t.vpa");
  EXPECT_EQ(verify.status, 0) << verify.out;
}

}  // namespace
