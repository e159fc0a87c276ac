#include "support/state_notation.h"

#include <gtest/gtest.h>

namespace {

std::string listText(char mark, const std::vector<Dependency>& list) {
  std::string out;
  for (const Dependency& d : list) {
    out += std::string(" ") + mark + d.name + ":" + versionText(d.min);  // versionText's buffer is reused
    out += std::string(":") + versionText(d.max) + ":" + std::to_string(d.priority);
  }
  return out;
}

// Every field that differs from its default, in one line per package.
std::string describe(const std::vector<PackageState>& states) {
  std::string out;
  for (const PackageState& s : states) {
    out += s.name + " " + (s.placeholder ? "placeholder" : versionText(s.version));
    if (s.buildTime && !s.placeholder) out += " built=" + std::to_string(s.buildTime);
    if (!s.disabled.empty()) out += " disabled=" + s.disabled;
    if (s.enabledByUser) out += " enabled=user";
    out += listText('>', s.depends) + listText('+', s.provides) + listText('!', s.conflicts);
    if (!s.bundle.empty()) out += " @" + s.bundle;
    if (s.isBundle) out += " bundle";
    if (!s.scheduled.empty()) out += " " + s.scheduled;
    for (const std::string& file : s.files) out += " file:" + file;
    out += "\n";
  }
  return out;
}

TEST(StateNotation, ReadsEveryWordAndReportsTheFirstFaultWithItsOffset) {
  struct Case {
    const char* text;
    const char* result;  // describe() of the packages, or "OFFSET: what"
  } cases[] = {
      {"", ""},
      {"system 6.41; ppp 6.40 disabled >system; ospf 6.41 uninstall @routing; routing 6.41 bundle;",
       "system 6.41\nppp 6.40 disabled=user >system:0.0:0.0:0\nospf 6.41 @routing uninstall\n"
       "routing 6.41 bundle\n"},
      {"a 1.0 disabled=auto enabled=user >b:1.0:2.0 !c::6.41rc2 +d:1.0:1.0:-7 files=bin/a,etc/a built=4294967295",
       "a 1.0 built=4294967295 disabled=auto enabled=user >b:1.0:2.0:0 +d:1.0:1.0:-7 !c:0.0:6.41rc2:0"
       " file:bin/a file:etc/a\n"},
      {"x 6.41beta3 enable\t; y placeholder disable files=", "x 6.41beta3 enable\ny placeholder disable\n"},
      {"a 1.0 +p:::-2147483648 +q:::2147483647", "a 1.0 +p:0.0:0.0:-2147483648 +q:0.0:0.0:2147483647\n"},
      // Hostile text: every fault is named at the word it is in.
      {";", "0: a package needs a name and a version"},
      {"a 1.0;; b 1.0", "6: a package needs a name and a version"},
      {"system", "0: no version after \"system\""},
      {"a/b 1.0", "0: bad package name \"a/b\""},
      {"a 6.40.0", "2: bad version \"6.40.0\""},
      {"a 06.40", "2: bad version \"06.40\""},
      {"a 256.1", "2: bad version \"256.1\""},
      {"a 1.0 >", "6: bad package name in \"\""},
      {"a 1.0 >b:1.0:2.0:3", "6: too many fields in \"b:1.0:2.0:3\""},
      {"a 1.0 !b:x", "6: bad version bound in \"b:x\""},
      {"a 1.0 +p:::2147483648", "6: bad priority in \"p:::2147483648\""},
      {"a 1.0 +p:::-", "6: bad priority in \"p:::-\""},
      {"a 1.0 @", "6: bad bundle name in \"@\""},
      {"a 1.0 built=4294967296", "6: bad build time \"4294967296\""},
      {"a 1.0 built=", "6: bad build time \"\""},
      {"a placeholder built=1", "14: a placeholder has no build time"},
      {"a 1.0 files=a,,b", "6: empty path in files="},
      {"a 1.0   disabled=maybe", "8: unknown word \"disabled=maybe\""},
      {"a 1.0 \xff\n", "6: unknown word \"\xff\n\""},
  };
  for (const Case& c : cases) {
    std::vector<PackageState> states;
    NotationError error;
    const std::string result = parsePackageStates(c.text, &states, &error)
                                   ? describe(states)
                                   : std::to_string(error.offset) + ": " + error.what;
    EXPECT_EQ(result, c.result) << c.text;
  }
}

TEST(StateNotation, ADefaultBuildTimeGivesWayToBuiltAndToPlaceholder) {
  std::vector<PackageState> states;
  NotationError error;
  ASSERT_TRUE(parsePackageStates("a 1.0; b 1.0 built=5; c placeholder", &states, &error, 7));
  EXPECT_EQ(describe(states), "a 1.0 built=7\nb 1.0 built=5\nc placeholder\n");
  EXPECT_EQ(states[2].buildTime, 0xFFFFFFFFu);
}

}  // namespace
