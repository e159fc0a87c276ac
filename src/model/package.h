// Package records: the header data a package file describes (PackageInfo) and
// an installed or candidate package of the run (Package).
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "model/dependency.h"
#include "model/path_set.h"
#include "model/version.h"

// Numbers in sorted runs, each from its first number to its last.
using NumberRuns = std::vector<std::pair<uint32_t, uint32_t>>;

// The first of `runs` that begins after `number`; the one before it, if
// any, is the only one that can hold `number`.
inline NumberRuns::const_iterator runAfter(const NumberRuns& runs, uint32_t number) {
  return std::upper_bound(runs.begin(), runs.end(), number,
                          [](uint32_t key, const std::pair<uint32_t, uint32_t>& run) { return key < run.first; });
}

// What a run will do to a package.
enum class PackageAction : uint32_t { None = 0, Uninstall = 1, Enable = 2, Disable = 3 };

// The schedule-file word of an action; "" for None.
const char* actionWord(PackageAction action);

// Bits of a package's flags word.
namespace PackageFlag {
constexpr uint32_t BootImage = 1;   // the package carries the boot image
constexpr uint32_t NoMetadata = 2;  // its metadata files are not written to the package database
}  // namespace PackageFlag

inline bool hasFlag(uint32_t flags, uint32_t flag) { return (flags & flag) != 0; }

class PackageInfo {
 public:
  explicit PackageInfo(std::string packageName = std::string()) : name(std::move(packageName)) {}
  virtual ~PackageInfo() = default;

  std::string name;
  Version version = 0;
  uint32_t buildTime = 0;
  uint32_t flags = 0;
  // The texts of the parts of types 24 and 2: read and kept with the package,
  // never interpreted or shown.
  std::string record24Text;
  std::string architecture;
  std::string record2Text;
  std::string description;
  bool hasImage = false;
  std::vector<Dependency> depends;
  std::vector<Dependency> provides;
  std::vector<Dependency> conflicts;
  bool isBundle = false;
  std::vector<std::unique_ptr<PackageInfo>> members;  // bundle files only
};

class Package : public PackageInfo {
 public:
  explicit Package(std::string packageName = std::string()) : PackageInfo(std::move(packageName)) {}

  PathSet files;  // paths below /flash, each beginning with "/"
  // Set while `files` is not read yet: a stored image described the package,
  // and its entry's list is read only when the files are asked for.
  bool filesUnread = false;
  // Set while `files` is left empty because unpacking staged the files: the
  // transaction's numbers of their creations, as sorted runs from first to
  // last, and the generation of its staged operations they belong to. Read
  // through installedFiles.
  NumberRuns stagedFiles;
  uint32_t stagedGeneration = 0;
  Dependency bundle;            // empty name: not a bundle member
  bool disabled = false;
  bool userForced = false;
  PackageAction action = PackageAction::None;
};

constexpr uint32_t kPlaceholderMark = 0xFFFFFFFF;

// A placeholder has version and build time both 0xFFFFFFFF.
inline bool isPlaceholder(const PackageInfo& package) {
  return package.version == kPlaceholderMark && package.buildTime == kPlaceholderMark;
}
