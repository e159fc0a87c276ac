// Package files for end-to-end tests, made the way the engineers who ship
// packages make them: with the packaging tool and the development key.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// The development private key shipped in keys/ (what a default build trusts).
std::string developmentKeyPath();

// Runs `pkgtool words...` in this process. True when it exits with 0; its
// messages go to `messages` (may be null).
bool runPackagingTool(const std::vector<std::string>& words, std::string* messages = nullptr);

// Build time of every package made here, so that files come out the same.
constexpr uint32_t kTestBuildTime = 1700000000;

// One package to build: its files (path below the flash root, content; mode
// 0755 below "bin/", else 0644) and any further words of `pkgtool build`.
struct PackageRecipe {
  std::string name;
  std::string version;  // as pkgtool takes it: "1.0", "2.1rc3"
  std::vector<std::pair<std::string, std::string>> files;
  std::vector<std::string> options;
};

// Bytes that do not compress (a fixed xorshift sequence), for packages that
// must stay large.
std::string incompressibleBytes(size_t size);

// Builds the package file at `out`, signed with the development key.
bool buildPackageFile(const PackageRecipe& recipe, const std::string& out, std::string* messages = nullptr);
