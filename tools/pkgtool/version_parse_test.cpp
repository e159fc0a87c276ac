#include "pkgtool/version_parse.h"

#include <gtest/gtest.h>

namespace {

TEST(VersionParse, EveryCanonicalTextReadsBackToItsVersion) {
  const unsigned char stages[] = {'a', 'b', 'c', 'f'};
  const unsigned fields[] = {0, 1, 9, 10, 99, 100, 255};
  for (unsigned major : fields)
    for (unsigned minor : fields)
      for (unsigned char stage : stages)
        for (unsigned number = 0; number <= 255; ++number) {
          Version version = makeVersion(major, minor, stage, number);
          std::string text = versionText(version);
          Version parsed = 0;
          std::string error;
          ASSERT_TRUE(parseVersion(text, &parsed, &error)) << text << ": " << error;
          ASSERT_EQ(parsed, version) << text;
        }
}

TEST(VersionParse, ReadsTheDocumentedForms) {
  struct Case {
    const char* text;
    Version expected;
  } cases[] = {
      {"6.41beta3", makeVersion(6, 41, 'b', 3)}, {"6.40.1", makeVersion(6, 40, 'f', 1)},
      {"3.22", makeVersion(3, 22, 'f', 0)},      {"6.41rc2", makeVersion(6, 41, 'c', 2)},
      {"6.41alpha", makeVersion(6, 41, 'a', 0)}, {"0.0", makeVersion(0, 0, 'f', 0)},
      {"255.255.255", 0xFFFF66FF},
  };
  for (const Case& c : cases) {
    Version parsed = 0;
    std::string error;
    EXPECT_TRUE(parseVersion(c.text, &parsed, &error)) << c.text << ": " << error;
    EXPECT_EQ(parsed, c.expected) << c.text;
  }
}

TEST(VersionParse, RefusesMalformedAndNonCanonicalText) {
  struct Case {
    const char* text;
    const char* inError;
  } cases[] = {
      {"", "malformed"},         {"6", "malformed"},          {"6.", "malformed"},
      {".40", "malformed"},      {"6.40.", "malformed"},      {"6.256", "malformed"},
      {"256.1", "malformed"},    {"6.40.256", "malformed"},   {"6.41gamma1", "malformed"},
      {"6.41beta-1", "malformed"}, {"6.41 beta3", "malformed"}, {"6.40.1.2", "malformed"},
      {"v6.40", "malformed"},    {"6.40 ", "malformed"},      {"6.41Beta3", "malformed"},
      {"6.41beta3x", "malformed"}, {"0006.40", "malformed"},  {"6.41rc256", "malformed"},
      {"6.40.0", "write \"6.40\""},     {"06.40", "write \"6.40\""}, {"6.041", "write \"6.41\""},
      {"6.41beta0", "write \"6.41beta\""}, {"6.41rc02", "write \"6.41rc2\""},
  };
  for (const Case& c : cases) {
    Version parsed = 0x12345678;
    std::string error;
    EXPECT_FALSE(parseVersion(c.text, &parsed, &error)) << c.text;
    EXPECT_NE(error.find(c.inError), std::string::npos) << c.text << ": " << error;
    EXPECT_EQ(parsed, 0x12345678u) << c.text;
  }
}

}  // namespace
