// The bit set of changes a run permits (upgrade, downgrade, reinstall) and of
// the reasons planning finds against a candidate (unmet, conflict).
#pragma once

#include <cstdint>

enum class InstallFlags : uint32_t {
  None = 0,
  Upgrade = 0x01,    // an installed package may be replaced by a newer one
  Downgrade = 0x02,  // ... by an older one
  Unmet = 0x08,      // a dependency of the candidate is not met
  Conflict = 0x10,   // the candidate conflicts with an installed package
  Reinstall = 0x20,  // the same version may be installed again
};

constexpr InstallFlags operator|(InstallFlags a, InstallFlags b) {
  return static_cast<InstallFlags>(static_cast<uint32_t>(a) | static_cast<uint32_t>(b));
}

constexpr InstallFlags operator&(InstallFlags a, InstallFlags b) {
  return static_cast<InstallFlags>(static_cast<uint32_t>(a) & static_cast<uint32_t>(b));
}

constexpr InstallFlags operator~(InstallFlags a) { return static_cast<InstallFlags>(~static_cast<uint32_t>(a)); }

inline InstallFlags& operator|=(InstallFlags& a, InstallFlags b) { return a = a | b; }
inline InstallFlags& operator&=(InstallFlags& a, InstallFlags b) { return a = a & b; }

// Whether any of the bits of `which` is set.
constexpr bool any(InstallFlags flags, InstallFlags which = static_cast<InstallFlags>(~0u)) {
  return static_cast<uint32_t>(flags & which) != 0;
}
