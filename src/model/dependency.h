// One entry of a depends, provides or conflicts list, and a bundle member's
// reference to its bundle: a name with a version range and a provider rank.
#pragma once

#include <cstdint>
#include <string>

#include "model/version.h"

struct Dependency {
  std::string name;
  Version min = 0;  // 0: no lower bound
  Version max = 0;  // 0: no upper bound
  int32_t priority = 0;  // provides entries only
};
