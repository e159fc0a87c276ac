// What the tool writes into a package's or bundle's header parts: the header
// fields, the optional text parts and the dependency lists.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/dependency.h"
#include "model/version.h"

struct HeaderFields {
  std::string name;
  Version version = 0;
  uint32_t buildTime = 0;
  uint32_t flags = 0;                       // BootImage, NoMetadata
  std::optional<std::string> architecture;  // absent: no part, read as "i386"
  std::optional<std::string> description;   // absent: no part
  std::vector<Dependency> depends;
  std::vector<Dependency> provides;
  std::vector<Dependency> conflicts;
  bool image = false;                       // carry an (empty) image part
};
