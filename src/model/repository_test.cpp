#include "model/repository.h"

#include <gtest/gtest.h>

#include "model/relations.h"
#include "support/state_notation.h"

// An enabled package of the name or providing it (whatever the range), else the last disabled one.
// The rules that make bundles and members follow each other are in the planning table.
TEST(Repository, FindProviderPrefersAnEnabledPackage) {
  const char* const cases[][3] = {
      {"wireless 1.0 disabled; other 1.0; compat 1.0 disabled +wireless:6.40:6.41", "wireless", "compat-1.0"},
      {"wireless 1.0 disabled; compat 1.0 +radio +wireless:6.41:6.41:-1; wireless 2.0", "wireless", "compat-1.0"},
      {"wireless 1.0 disabled; compat 1.0 disabled +wireless; wireless 2.0", "wireless", "wireless-2.0"},
      {"wireless 1.0", "wlan", ""},
  };
  for (const auto& [text, name, found] : cases) {
    Repository repository;
    repository.packages = makePackages(text);
    const Package* provider = repository.findProvider(name);
    EXPECT_EQ(provider ? packageTitle(*provider) : "", found) << text;
  }
}
