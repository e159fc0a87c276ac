#include "model/relations.h"

#include <gtest/gtest.h>

#include "support/state_notation.h"

// The relations between the two records of a row (a bundle holds the members after it): "a!b" a
// conflicts with b, "a>b" a depends on b, "newer" a is newer than b.
TEST(Relations, HoldBetweenTwoRecords) {
  const std::pair<const char*, const char*> cases[] = {
      // A dependency's bounds, inclusive and unsigned; names compare exactly.
      {"a 1.0 >b:6.40:6.41; b 6.41", "a>b"}, {"a 1.0 >b:6.40:6.41; b 6.41.1", ""}, {"a 1.0 >b:6.40; b 6.39.9", ""},
      {"a 1.0 >b::6.40; b 0.1", "a>b"}, {"a 1.0 >b:128.0; b 127.255.255", ""}, {"a 1.0 >b; B 1.0", ""},
      // A provided range overlaps the needed one; an open bound excludes nothing.
      {"a 1.0 >w:6.40; b 1.0 +w::6.39.9", ""}, {"a 1.0 >w::6.39.9; b 1.0 +w:6.40", ""},
      {"a 1.0 >w:6.40:6.41; b 1.0 +w:6.41:6.42", "a>b"}, {"a 1.0 >w; b 1.0 +w:6.41:6.41", "a>b"},
      {"a 1.0 >w::127.255; b 1.0 +w:128.0", ""},
      // Through the members of either side.
      {"base 1.0 bundle; system 6.41 @base; dhcp 1.0 >system:6.40", "b>a"},
      {"extras 1.0 bundle; dhcp 1.0 @extras >system; system 6.41", "a>b"},
      // Conflicts: the other's name or what it provides, never a placeholder.
      {"a 1.0 !b:6.41; b 6.40", ""}, {"a 1.0 !b:6.41; b 6.41", "a!b"}, {"a 1.0 !b; b placeholder", ""},
      {"a 1.0 !w:6.41; c 1.0 +w::6.40", ""}, {"a 1.0 !w:6.41; c 1.0 +w::6.41", "a!b"},
      // Providing the other's name: a negative rank replaces it; what b provides decides first.
      {"a 1.0; b 1.0 +a:::-1", "a!b"}, {"a 1.0; b 1.0 +a", "b!a"}, {"a 1.0 +b; b 1.0 +a", ""},
      {"a 1.0 +b:::-1; b 1.0 +a:::5", "b!a"},
      // A name both provide goes to the higher rank; the first entry of each decides, and ends the search.
      {"a 1.0 +x:::9 +radio:::1; b 1.0 +radio", "a!b"}, {"a 1.0 +radio; b 1.0 +radio +radio:::-100", ""},
      {"a 1.0 +radio:::-1; b 1.0 +radio:::-2", "a!b"}, {"a 1.0 +radio +b !w; b 1.0 +radio:::3 +w", ""},
      // A bundle conflicts through its members, and with a package of a member's name.
      {"base 1.0 bundle; ppp 1.0 @base; ppp 1.0", "b!a"}, {"base 1.0 bundle; wlan 1.0 @base !old; old 1.0", "a!b"},
      {"base 1.0 bundle; wlan placeholder @base !old; old 1.0", ""},
      // Versions, then build times, as unsigned numbers; a bundle stands for its member of the other's name.
      {"x 6.41 built=1; x 6.40 built=9", "newer"}, {"x 6.40 built=4; x 6.40 built=5", "older"},
      {"x 6.40 built=5; x 6.40 built=5", ""}, {"x 128.0; x 127.255", "newer"}, {"x 6.42; y 6.40", ""},
      {"x 6.40 built=2147483648; x 6.40 built=1", "newer"},
      {"base 6.40 bundle; system 6.40 @base; ppp 6.42 @base; ppp 6.41", "b!a newer"},
      {"ppp 6.42 built=200; base 6.40 bundle; ppp 6.42 @base", "a!b newer"},
  };
  for (const auto& [text, expected] : cases) {
    const auto records = makePackages(text, true);
    ASSERT_EQ(records.size(), 2u) << text;
    const PackageInfo &a = *records[0], &b = *records[1];
    const int order = compareVersions(a, b);
    EXPECT_EQ(compareVersions(b, a, true), order) << text;
    const std::string facts = std::string(conflictsWith(a, b) ? " a!b" : "") + (conflictsWith(b, a) ? " b!a" : "") +
                              (dependsOn(a, b) ? " a>b" : "") + (dependsOn(b, a) ? " b>a" : "") +
                              (order > 0 ? " newer" : order < 0 ? " older" : "");
    EXPECT_EQ(facts.substr(facts.empty() ? 0 : 1), expected) << text;
  }
}
