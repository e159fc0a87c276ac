#include "planning/candidates.h"

#include <gtest/gtest.h>

#include "model/relations.h"
#include "support/state_notation.h"

// The candidates kept in install order (#: their place in the row; members go into the bundle before
// them), then the messages.
TEST(Selection, KeepsTheBestOfEachPackageAndOrdersThemByWhatTheyNeed) {
  const std::tuple<const char*, bool, const char*> cases[] = {
      {"", false, ""},
      {"x 1.0; x 1.1", false, "x-1.1#1 | WARNING: omitting package x-1.0: newer package is already provided"},
      {"x 1.0; x 1.1", true, "x-1.0#0 | WARNING: omitting package x-1.1: older package is already provided"},
      {"x 1.0 built=9; x 1.0 built=10", false,
       "x-1.0#1 | WARNING: omitting package x-1.0: newer package is already provided"},
      // Of equal ones a bundle goes before a file of its member, and the first before the others, silently.
      {"p 1.0; s 1.0 bundle; q 1.0 @s; p 1.0 @s", false, "s-1.0#1"},
      {"x 1.0; y 1.0; x 1.0; s 1.0 bundle; p 1.0 @s; s 1.0 bundle; p 1.0 @s", false, "s-1.0#3, y-1.0#1, x-1.0#0"},
      {"s 1.0 bundle; p 1.0 @s; p 1.1", false,
       "p-1.1#1 | WARNING: omitting package s-1.0: newer package is already provided"},
      // Each goes right after the last one it needs or that overrides it, else to the front.
      {"a 1.0; b 1.0 >a; c 1.0", false, "c-1.0#2, a-1.0#0, b-1.0#1"},
      {"base 1.0; net 1.0 >base; router 1.0 !legacy; legacy 1.0; tools 1.0 >base >net", false,
       "router-1.0#2, legacy-1.0#3, base-1.0#0, net-1.0#1, tools-1.0#4"},
  };
  for (const auto& [text, downgrade, expected] : cases) {
    const auto records = makePackages(text, true);
    std::vector<Package*> candidates;
    for (const auto& record : records) candidates.push_back(record.get());
    const Notices notices = selectCandidates(&candidates, downgrade);
    std::string result;
    for (const Package* p : candidates) {
      const auto place = std::find_if(records.begin(), records.end(), [&](auto& r) { return r.get() == p; });
      result += (result.empty() ? "" : ", ") + packageTitle(*p) + "#" + std::to_string(place - records.begin());
    }
    for (const Notice& n : notices) result += (n.error ? " | ERROR: " : " | WARNING: ") + n.text;
    EXPECT_EQ(result, expected) << text;
  }
}
