// Package version numbers: major, minor, stage and number packed into one
// unsigned 32-bit value, ordered as a plain unsigned number.
#pragma once

#include <cstdint>
#include <string>

using Version = uint32_t;

constexpr Version makeVersion(unsigned major, unsigned minor, unsigned char stage, unsigned number) {
  return (static_cast<uint32_t>(major & 0xFF) << 24) | (static_cast<uint32_t>(minor & 0xFF) << 16) |
         (static_cast<uint32_t>(stage) << 8) | static_cast<uint32_t>(number & 0xFF);
}

// "6.40", "6.40.1", "6.41beta3", "6.41rc2", "6.41alpha".
std::string versionText(Version version);
