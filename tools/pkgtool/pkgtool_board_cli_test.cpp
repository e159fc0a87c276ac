// End-to-end tests of the pkgtool commands that ask a board what is
// installed: a scratch board set up by the real installer from packages the
// tool built, then queried, and compared whole before and after.
#include <gtest/gtest.h>

#include "pkgtool/pkgtool_cli_fixture.h"
#include "support/board.h"

namespace {

const std::string kBuild = "build --build-time 1700000000 --key " PKGTOOL_TRUSTED_PRIVATE_KEY " ";

TEST_F(PkgtoolCli, BoardQueriesTellWhatIsInstalledAndWriteNothing) {
  Board board;
  if (!board.usable()) GTEST_SKIP() << "no scratch board: " << board.whyUnusable();
  if (!pathExists(PKGTOOL_TRUSTED_PRIVATE_KEY)) GTEST_SKIP() << "the build trusts a key whose private half is not here";
  ASSERT_TRUE(writeFile(dir_ / "bgp/bin/bgpd", "bgp"));
  ASSERT_TRUE(writeFile(dir_ / "ospf/bin/ospfd", "ospf"));
  ASSERT_TRUE(writeFile(dir_ / "hello/bin/hello", "hello"));
  const std::string offered = board.path("/flash/rw/pckg/");
  for (const std::string& line :
       {kBuild + "--name bgp --version 6.41 --root @bgp -o @bgp.vpa",
        kBuild + "--name ospf --version 6.41 --root @ospf -o @ospf.vpa",
        kBuild + "--name hello --version 1.0 --depends ospf:6.41 --root @hello -o " + offered + "hello-1.0.vpa",
        "bundle --build-time 1700000000 --key " PKGTOOL_TRUSTED_PRIVATE_KEY
        " --name routing --version 6.41 --start-disabled bgp -o " + offered + "routing-6.41.vpa @bgp.vpa @ospf.vpa"}) {
    ToolRun made = run(line);
    ASSERT_EQ(made.status, 0) << line << ": " << made.err;
  }
  RunResult installed = board.runWithRoot({});
  ASSERT_EQ(installed.status, 0) << installed.out;
  ASSERT_TRUE(board.writeSchedule("hello", "uninstall"));
  const TreeSnapshot before = board.snapshot();

  const std::string root = " -r " + board.root() + " ";
  const std::string built = "build time: 2023-11-14 22:13:20 UTC (1700000000)\n";
  const std::string none = "provides: none\nconflicts: none\n";
  struct Case {
    std::string line;
    int status;
    std::string out;
  } cases[] = {
      {"status" + root + "hello", 0,
       "package: hello\nversion: 1.0\n" + built + "state: enabled\nnext run: uninstall\ndepends:\n  ospf from 6.41\n" +
           none + "bundle: none\nstored image: none\nfiles: 1\n"},
      {"status" + root + "bgp", 0,
       "package: bgp\nversion: 6.41\n" + built + "state: disabled (auto)\ndepends: none\n" + none +
           "bundle: routing-6.41\nstored image: none\nfiles: 1\n"},
      {"status" + root + "routing", 0,
       "package: routing\nversion: 6.41\n" + built + "state: enabled\ndepends: none\n" + none +
           "bundle: none\nstored image: /flash/var/pdb/routing/image\nfiles: 0\n"},
      {"files" + root + "bgp", 0, "/flash/x/bgp/bin/bgpd\n"},
      {"files" + root + "hello", 0, "/flash/bin/hello\n"},
      {"owner" + root + "/flash/bin/ospfd", 0, "ospf: /flash/bin/ospfd\n"},
      {"owner" + root + "/flash/bin/none", 1, ""},
      {"owner" + root + "/bin/hello", 1, ""},
      {"files" + root + "nobody", 1, ""},
      {"status" + root + "nobody", 1, ""},
      {"status -r " + board.root() + "/missing hello", 2, ""},
      {"files" + root, 4, ""},
  };
  for (const Case& c : cases) {
    ToolRun query = run(c.line);
    EXPECT_EQ(query.status, c.status) << c.line << ": " << query.err;
    EXPECT_EQ(query.out, c.out) << c.line;
  }
  ToolRun all = run("status" + root);
  EXPECT_EQ(all.status, 0);
  size_t packages = 0;
  for (size_t at = all.out.find("package: "); at != std::string::npos; at = all.out.find("package: ", at + 1))
    ++packages;
  EXPECT_EQ(packages, 4u) << all.out;
  EXPECT_EQ(diffSnapshots(before, board.snapshot()), "");
}

}  // namespace
