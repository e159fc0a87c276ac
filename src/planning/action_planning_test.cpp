#include "planning/action_planning.h"

#include <gtest/gtest.h>

#include "model/relations.h"
#include "support/state_notation.h"

// The plan for the installed packages of a row: what is removed and enabled in the order it is carried
// out, then the messages; a refused plan leaves ("left") no action behind.
TEST(Planning, KeepsWhatActivePackagesNeedAndSettlesConflictsAndBundles) {
  const std::pair<const char*, const char*> cases[] = {
      {"", ""},
      // What an active package needs is not removed, be it by name or by what it provides.
      {"x 1.0 uninstall; y 1.0 uninstall >x; z 1.0 >y",
       "WARNING: can not uninstall y-1.0: z depends on it, WARNING: can not uninstall x-1.0: y depends on it"},
      {"x 1.0 disable; y 1.0 >x", "WARNING: can not disable x-1.0: y depends on it"},
      {"w 1.0 uninstall +net:1.0:1.0; y 1.0 >net", "WARNING: can not uninstall w-1.0: y depends on it"},
      // A disabled dependant protects nothing and goes with what it needs; one left with disabled ones is disabled.
      {"x 1.0 disable; y 1.0 disabled >x; base 1.0", "disable x-1.0"},
      {"w 1.0 uninstall +net:1.0:1.0; y 1.0 disabled >net; base 1.0", "uninstall y-1.0, uninstall w-1.0"},
      {"x 1.0 disabled uninstall; y 1.0 disabled >x; base 1.0", "uninstall x-1.0"},
      {"x 1.0 uninstall; x 2.0; y 1.0 disabled >x; base 1.0", "uninstall x-1.0"},
      {"x 1.0 disabled disable; y 1.0 >x; base 1.0", "disable y-1.0, WARNING: can not disable x-1.0: y depends on it"},
      {"z 1.0 >y; y 1.0 >x; x 1.0 disabled disable; base 1.0",  // down a chain listed the other way
       "disable y-1.0, disable z-1.0, WARNING: can not disable x-1.0: y depends on it"},
      // Enabling pulls in the best disabled provider, silently, and through a chain.
      {"p 1.0 disabled enable >q; q 1.0 disabled; base 1.0", "enable p-1.0, enable q-1.0"},
      {"p 1.0 disabled enable >q; q 1.0 disabled; q 2.0 disabled", "enable p-1.0, enable q-2.0"},
      {"a 1.0 uninstall; b 1.0 disabled >a; c 1.0 >b; base 1.0",
       "enable b-1.0, WARNING: can not uninstall a-1.0: b depends on it"},
      // Without a (real) provider a package goes, and what it needs after that one is not enabled.
      {"orphan 1.0 >gone; base 1.0", "uninstall orphan-1.0"},
      {"p 1.0 >net; net placeholder; base 1.0", "uninstall p-1.0"},
      {"p 1.0 disabled enable >nowhere >q; q 1.0 disabled; base 1.0", "uninstall p-1.0"},
      // Conflicts disable the other side, unless it is being enabled too: then the one conflicted with stays off.
      {"a 1.0 !b !c; b 1.0; c 1.0", "disable c-1.0, disable b-1.0"},
      {"a 1.0 disabled enable; b 1.0 !a", "disable b-1.0, enable a-1.0"},
      {"a 1.0 disabled enable; b 1.0 disabled enable !a",
       "enable b-1.0, WARNING: can not enable a: b-1.0 conflicts with it"},
      {"a 1.0 uninstall; b 1.0 disabled; c 1.0 disable", "refused, ERROR: can not uninstall or disable all packages"},
      // Members follow their bundle's action, but keep an uninstall; a disabled one being enabled is enabled.
      {"m1 1.0 @s; m2 1.0 disabled disable @s; s 1.0 bundle uninstall; base 1.0",
       "uninstall s-1.0, uninstall m2-1.0, uninstall m1-1.0"},
      {"m 1.0 @s; n 1.0 uninstall @s; s 1.0 bundle disable; x 1.0", "uninstall s-1.0, uninstall n-1.0, disable m-1.0"},
      {"m1 1.0 disabled uninstall @s; m2 1.0 @s; s 1.0 disabled bundle enable", "enable m1-1.0, enable s-1.0"},
      {"m 1.0 @gone; x 1.0 uninstall", "uninstall x-1.0"}, {"m 1.0 enable @s; s 1.0 bundle", "enable m-1.0"},
      // A bundle goes when no member (of its own, and real) stays or becomes enabled, unless it is disabled
      // and has members; then it is not enabled. An active member keeps its bundle.
      {"m 1.0 uninstall @s; n 1.0 @s; s 1.0 bundle", "uninstall m-1.0"},
      {"m 1.0 disable @s; n 1.0 disable @s; s 1.0 bundle; base 1.0", "uninstall s-1.0, disable n-1.0, disable m-1.0"},
      {"m 1.0 disabled uninstall @s; s 1.0 disabled bundle disable; base 1.0", "uninstall s-1.0, uninstall m-1.0"},
      {"m1 1.0 disabled @s; m2 1.0 disabled disable @s; s 1.0 disabled bundle; base 1.0", "disable m2-1.0"},
      {"m 1.0 disable @s; s 1.0 disabled bundle enable; base 1.0", "disable m-1.0"},
      {"s 1.0 bundle; p placeholder @s; q 1.0 @t; r 1.0; t 1.0 @r", "uninstall s-1.0"},
      {"m 1.0 disabled enable @s; s 1.0 disabled bundle", "enable m-1.0, enable s-1.0"},
      // Each list is carried out in reverse; unrelated enables come out of the ordering reversed first.
      {"a 1.0 disable; b 1.0 uninstall; keep 1.0; c 1.0 disable; d 1.0 disabled enable; e 1.0 disabled enable",
       "disable c-1.0, uninstall b-1.0, disable a-1.0, enable d-1.0, enable e-1.0"},
  };
  for (const auto& [text, expected] : cases) {
    Repository repository;
    repository.packages = makePackages(text);
    const Plan planned = planActions(repository);
    std::string plan = planned.accepted ? "" : "refused";
    const auto add = [&](const std::string& item) { plan += (plan.empty() ? "" : ", ") + item; };
    for (const Package* p : planned.removals) add(actionWord(p->action) + (" " + packageTitle(*p)));
    for (const Package* p : planned.enables) add("enable " + packageTitle(*p));
    for (const auto& p : repository.packages)
      if (plan.compare(0, 7, "refused") == 0 && p->action != PackageAction::None) add("left " + packageTitle(*p));
    for (const Notice& n : planned.notices) add((n.error ? "ERROR: " : "WARNING: ") + n.text);
    EXPECT_EQ(plan, expected) << text;
  }
}
