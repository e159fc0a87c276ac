#include "pkgtool/command_options.h"

#include <gtest/gtest.h>

#include "pkgtool/arguments.h"

namespace {

TEST(CommandOptions, DependencyEntriesTakeOpenAndClosedBounds) {
  struct Case {
    const char* text;
    Dependency expected;
  } cases[] = {
      {"system", {"system", 0, 0, 0}},
      {"system:6.40", {"system", makeVersion(6, 40, 'f', 0), 0, 0}},
      {"system:6.40:", {"system", makeVersion(6, 40, 'f', 0), 0, 0}},
      {"system::6.49.2", {"system", 0, makeVersion(6, 49, 'f', 2), 0}},
      {"system:6.41beta3:6.41rc2", {"system", makeVersion(6, 41, 'b', 3), makeVersion(6, 41, 'c', 2), 0}},
      {"sixteen-bytes-xy:1.0:1.0", {"sixteen-bytes-xy", makeVersion(1, 0, 'f', 0), makeVersion(1, 0, 'f', 0), 0}},
  };
  for (const Case& c : cases) {
    Dependency entry{"stale", 1, 1, 1};
    std::string error;
    ASSERT_TRUE(parseDependencyOption(c.text, &entry, &error)) << c.text << ": " << error;
    EXPECT_EQ(entry.name, c.expected.name);
    EXPECT_EQ(entry.min, c.expected.min) << c.text;
    EXPECT_EQ(entry.max, c.expected.max) << c.text;
    EXPECT_EQ(entry.priority, 0) << c.text;
  }
}

TEST(CommandOptions, ProvidesEntriesCarryASignedPriority) {
  struct Case {
    const char* text;
    int32_t priority;
  } cases[] = {{"ppp:::0", 0}, {"ppp:1.0::-1", -1}, {"ppp::2.0:2147483647", INT32_MAX}, {"ppp:::-2147483648", INT32_MIN}};
  for (const Case& c : cases) {
    Dependency entry;
    std::string error;
    ASSERT_TRUE(parseProvidesOption(c.text, &entry, &error)) << c.text << ": " << error;
    EXPECT_EQ(entry.name, "ppp");
    EXPECT_EQ(entry.priority, c.priority) << c.text;
  }
}

TEST(CommandOptions, RefusesMalformedEntriesWithTheReason) {
  struct Case {
    bool provides;
    const char* text;
    const char* inError;
  } cases[] = {
      {false, "", "1 to 16 bytes"},
      {false, "seventeen-bytes-x", "1 to 16 bytes"},
      {false, "a/b", "\"a/b\""},
      {false, "a b", "\"a b\""},
      {false, "..", "\"..\""},
      {false, "system:6.40.0", "write \"6.40\""},
      {false, "system:six", "malformed version"},
      {false, "system:1:2:3", "NAME[:MIN[:MAX]]"},
      {false, "system:6.50:6.40", "above highest"},
      {true, "ppp", "NAME:MIN:MAX:PRIORITY"},
      {true, "ppp:::", "priority"},
      {true, "ppp:::1.5", "priority"},
      {true, "ppp:::2147483648", "priority"},
      {true, "ppp:::-2147483649", "priority"},
      {true, "ppp:::+1", "priority"},
      {true, "ppp:x::1", "malformed version"},
  };
  for (const Case& c : cases) {
    Dependency entry;
    std::string error;
    bool ok = c.provides ? parseProvidesOption(c.text, &entry, &error) : parseDependencyOption(c.text, &entry, &error);
    EXPECT_FALSE(ok) << c.text;
    EXPECT_NE(error.find(c.inError), std::string::npos) << c.text << ": " << error;
  }
}

TEST(CommandOptions, ClassesAndBuildTimesAreCheckedNumbers) {
  std::pair<std::string, uint8_t> entry;
  std::string error;
  ASSERT_TRUE(parseClassOption("bin/a=b=4", &entry, &error)) << error;
  EXPECT_EQ(entry.first, "bin/a=b");
  EXPECT_EQ(entry.second, 4);
  ASSERT_TRUE(parseClassOption("x=0", &entry, &error)) << error;
  EXPECT_EQ(entry.second, 0);
  for (const char* bad : {"x", "=1", "x=5", "x=", "x=-1", "x=1a"}) EXPECT_FALSE(parseClassOption(bad, &entry, &error)) << bad;

  uint32_t seconds = 7;
  ASSERT_TRUE(parseBuildTime("4294967295", &seconds, &error)) << error;
  EXPECT_EQ(seconds, 4294967295u);
  ASSERT_TRUE(parseBuildTime("0", &seconds, &error)) << error;
  EXPECT_EQ(seconds, 0u);
  for (const char* bad : {"", "4294967296", "-1", "12s", " 1", "99999999999"}) {
    EXPECT_FALSE(parseBuildTime(bad, &seconds, &error)) << bad;
    EXPECT_NE(error.find("seconds"), std::string::npos) << error;
  }
}

TEST(Arguments, TakesValuesInBothFormsAndNotesWhatIsWrong) {
  const char* words[] = {"pkgtool", "--name", "a", "--arch=", "--json", "file", "--", "--key", "--key"};
  Arguments args(9, const_cast<char**>(words), 1);
  std::string name = "?", arch = "?", key = "?";
  ASSERT_TRUE(args.option("--name", &name));
  EXPECT_FALSE(args.option("--nam", &arch));
  ASSERT_TRUE(args.option("--arch", &arch));
  EXPECT_FALSE(args.option("--key", &key));
  ASSERT_TRUE(args.flag("--json"));
  EXPECT_EQ(args.positional(), "file");
  ASSERT_TRUE(args.separator());
  EXPECT_FALSE(args.option("--key", &key));  // after "--" options are words
  EXPECT_EQ(args.positional(), "--key");
  EXPECT_FALSE(args.failed());
  EXPECT_EQ(name, "a");
  EXPECT_EQ(arch, "");
  EXPECT_EQ(key, "?");

  const char* missing[] = {"--key"};
  Arguments noValue(1, const_cast<char**>(missing), 0);
  EXPECT_TRUE(noValue.option("--key", &key));
  EXPECT_TRUE(noValue.failed());
  EXPECT_EQ(noValue.error(), "--key needs a value");
  EXPECT_TRUE(noValue.done());

  const char* unknown[] = {"--frobnicate"};
  Arguments strange(1, const_cast<char**>(unknown), 0);
  strange.positional();
  EXPECT_EQ(strange.error(), "unknown option --frobnicate");
}

}  // namespace
