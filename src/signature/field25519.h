// Arithmetic in the prime field of p = 2^255 - 19, the coordinates of the
// signature curve. Fixed-size values, no allocation; results may alias inputs.
#pragma once

#include <cstdint>

namespace curve25519 {

constexpr int kFieldLimbs = 10;
constexpr int kFieldBytes = 32;

// Ten signed limbs holding alternately 26 and 25 bits; limb i sits at bit
// 0, 26, 51, 77, 102, 128, 153, 179, 204, 230. The form is not unique. After
// mul, square and mulSmall every limb is within its width (one low limb may
// stray by a small carry, up or down); add and sub do not carry, so their
// results go only into mul, square, mulSmall or one more add or sub.
//
// mul and square multiply the limbs in 64-bit arithmetic; on hosts with
// 128-bit products they take each pair of limbs as one 51-bit digit instead
// (INSTALLER_PORTABLE_FIELD keeps the limb products everywhere).
struct FieldElement {
  int32_t limb[kFieldLimbs];
};

void setSmall(FieldElement& out, int32_t n);

// copy, add and sub are limb loops short enough to inline into the ladder.
inline void copy(FieldElement& out, const FieldElement& f) {
  for (int i = 0; i < kFieldLimbs; ++i) out.limb[i] = f.limb[i];
}

inline void add(FieldElement& out, const FieldElement& f, const FieldElement& g) {
  for (int i = 0; i < kFieldLimbs; ++i) out.limb[i] = f.limb[i] + g.limb[i];
}

inline void sub(FieldElement& out, const FieldElement& f, const FieldElement& g) {
  for (int i = 0; i < kFieldLimbs; ++i) out.limb[i] = f.limb[i] - g.limb[i];
}

// f * c for a small constant c (below 2^20); c = 1 only brings the limbs
// within their widths.
void mulSmall(FieldElement& out, const FieldElement& f, int32_t c);
void mul(FieldElement& out, const FieldElement& f, const FieldElement& g);
void square(FieldElement& out, const FieldElement& f);
// f^(p-2), the inverse; 0 for 0.
void invert(FieldElement& out, const FieldElement& f);
// f^((p-5)/8) = f^(2^252 - 3), for square roots.
void powP58(FieldElement& out, const FieldElement& f);

// For f whose lower nine limbs lie in [0, 2^width) and whose top limb is at
// least 0: whether the limb sum is p or more.
bool isAtLeastP(const FieldElement& f);
// The lowest bit of the canonical value in [0, p).
int parity(const FieldElement& f);

// Little-endian bytes into limbs; the top limb takes bits 230 to 255.
void decode(FieldElement& out, const unsigned char in[kFieldBytes]);
// The canonical value in [0, p), little-endian.
void encode(unsigned char out[kFieldBytes], const FieldElement& f);

}  // namespace curve25519
