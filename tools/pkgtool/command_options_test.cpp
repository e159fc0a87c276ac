#include "pkgtool/command_options.h"

#include <gtest/gtest.h>

namespace {

// What the options refuse, each row with a part of the reason: d --depends, p --provides, c --class, t a build time.
TEST(CommandOptions, RefuseMalformedValuesWithTheReason) {
  const char* rows[][3] = {
      {"d", "seventeen-bytes-x", "1 to 16"}, {"d", "a b", "\"a b\""}, {"d", "..", "\"..\""}, {"d", "a:1:2:3", "NAME["},
      {"d", "a:6.41rc2:6.41beta3", "above highest"}, {"p", "ppp::", "MAX:PRIORITY"}, {"p", "ppp:::", "priority"},
      {"p", "ppp:::+1", "priority"}, {"p", "ppp:::2147483648", "priority"}, {"p", "ppp:::-2147483649", "priority"},
      {"d", "a:6.40.0", "canonical"}, {"d", "a::x", "\"x\""}, {"p", "..:1.0::5", "\"..\""},
      {"c", "=1", "PATH=N"}, {"c", "x=5", "class"}, {"c", "x=", "class"}, {"c", "x=1a", "class"},
      {"t", " 1", "seconds"}, {"t", "-1", "seconds"}, {"t", "4294967296", "seconds"}, {"t", "99999999999", "seconds"}};
  for (const auto& [option, value, reason] : rows) {
    Dependency entry;
    std::pair<std::string, uint8_t> file;
    uint32_t seconds = 0;
    std::string error;
    const bool ok = *option == 'c'   ? parseClassOption(value, &file, &error)
                    : *option == 't' ? parseBuildTime(value, &seconds, &error)
                    : *option == 'd' ? parseDependencyOption(value, &entry, &error)
                                     : parseProvidesOption(value, &entry, &error);
    EXPECT_TRUE(!ok && error.find(reason) != std::string::npos) << option << " " << value << ": " << error;
  }
}

}  // namespace
