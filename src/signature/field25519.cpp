#include "signature/field25519.h"

#include "platform/little_endian.h"
#include "signature/field25519_wide.h"

namespace curve25519 {

namespace {

constexpr int kLimbBit[kFieldLimbs] = {0, 26, 51, 77, 102, 128, 153, 179, 204, 230};
constexpr int kLimbWidth[kFieldLimbs] = {26, 25, 26, 25, 26, 25, 26, 25, 26, 25};
constexpr int64_t kTwo25 = int64_t{1} << 25;
constexpr int64_t kTwo26 = int64_t{1} << 26;

// Moves everything above limb i's width into limb i + 1, rounding down, so
// that limb i ends in [0, 2^width).
inline void carryUp(int64_t* h, int i) {
  const int64_t carry = h[i] >> kLimbWidth[i];
  h[i] -= carry * (int64_t{1} << kLimbWidth[i]);
  h[i + 1] += carry;
}

// What overflows the top limb is worth 2^255 = 19 (mod p) at the bottom.
inline void carryAround(int64_t* h) {
  const int64_t carry = h[9] >> 25;
  h[9] -= carry * kTwo25;
  h[0] += 19 * carry;
}

// Brings wide products into limbs within their widths. Two interleaved carry
// chains keep the dependency chain short; limbs 1 and 5 take one extra carry
// of a few bits.
void carryProduct(FieldElement& out, int64_t* h) {
  carryUp(h, 0);
  carryUp(h, 4);
  carryUp(h, 1);
  carryUp(h, 5);
  carryUp(h, 2);
  carryUp(h, 6);
  carryUp(h, 3);
  carryUp(h, 7);
  carryUp(h, 4);
  carryUp(h, 8);
  carryAround(h);
  carryUp(h, 0);
  for (int i = 0; i < kFieldLimbs; ++i) out.limb[i] = static_cast<int32_t>(h[i]);
}

// The strict form: limbs 0 to 8 in [0, 2^width) and the top limb in
// [-1, 2^25], so that the limb sum lies in (-p, 2p) and differs from the
// canonical value by at most one p.
void strictForm(int64_t* h, const FieldElement& f) {
  for (int i = 0; i < kFieldLimbs; ++i) h[i] = f.limb[i];
  for (int i = 0; i < 9; ++i) carryUp(h, i);
  carryAround(h);
  for (int i = 0; i < 9; ++i) carryUp(h, i);
}

bool strictIsAtLeastP(const int64_t* h) {
  if (h[9] > kTwo25 - 1) return true;
  for (int i = 1; i < kFieldLimbs; i += 2)
    if (h[i] != kTwo25 - 1) return false;
  for (int i = 2; i < kFieldLimbs - 1; i += 2)
    if (h[i] != kTwo26 - 1) return false;
  return h[0] >= kTwo26 - 19;
}

#ifdef INSTALLER_FIELD_WIDE_PRODUCTS

// On hosts with 128-bit products each pair of limbs is one 51-bit digit.
void mulWide(FieldElement& out, const FieldElement& f, const FieldElement& g) {
  WideElement a, b;
  toWide(a, f);
  toWide(b, g);
  mul(a, a, b);
  fromWide(out, a);
}

void squareWide(FieldElement& out, const FieldElement& f) {
  WideElement a;
  toWide(a, f);
  square(a, a);
  fromWide(out, a);
}

#else

// Limb i times limb j lands at bit w(i) + w(j), which is w(i + j) plus one
// when both are odd (25-bit) limbs; above 2^255 it folds back times 19.
void mulLimbs(FieldElement& out, const FieldElement& f, const FieldElement& g) {
  const int64_t f0 = f.limb[0], f1 = f.limb[1], f2 = f.limb[2], f3 = f.limb[3], f4 = f.limb[4];
  const int64_t f5 = f.limb[5], f6 = f.limb[6], f7 = f.limb[7], f8 = f.limb[8], f9 = f.limb[9];
  const int64_t g0 = g.limb[0], g1 = g.limb[1], g2 = g.limb[2], g3 = g.limb[3], g4 = g.limb[4];
  const int64_t g5 = g.limb[5], g6 = g.limb[6], g7 = g.limb[7], g8 = g.limb[8], g9 = g.limb[9];
  const int64_t f1_2 = 2 * f1, f3_2 = 2 * f3, f5_2 = 2 * f5, f7_2 = 2 * f7, f9_2 = 2 * f9;
  const int64_t g1_19 = 19 * g1, g2_19 = 19 * g2, g3_19 = 19 * g3, g4_19 = 19 * g4;
  const int64_t g5_19 = 19 * g5, g6_19 = 19 * g6, g7_19 = 19 * g7, g8_19 = 19 * g8;
  const int64_t g9_19 = 19 * g9;
  int64_t h[kFieldLimbs];
  h[0] = f0 * g0 + f1_2 * g9_19 + f2 * g8_19 + f3_2 * g7_19 + f4 * g6_19 + f5_2 * g5_19 +
         f6 * g4_19 + f7_2 * g3_19 + f8 * g2_19 + f9_2 * g1_19;
  h[1] = f0 * g1 + f1 * g0 + f2 * g9_19 + f3 * g8_19 + f4 * g7_19 + f5 * g6_19 + f6 * g5_19 +
         f7 * g4_19 + f8 * g3_19 + f9 * g2_19;
  h[2] = f0 * g2 + f1_2 * g1 + f2 * g0 + f3_2 * g9_19 + f4 * g8_19 + f5_2 * g7_19 + f6 * g6_19 +
         f7_2 * g5_19 + f8 * g4_19 + f9_2 * g3_19;
  h[3] = f0 * g3 + f1 * g2 + f2 * g1 + f3 * g0 + f4 * g9_19 + f5 * g8_19 + f6 * g7_19 +
         f7 * g6_19 + f8 * g5_19 + f9 * g4_19;
  h[4] = f0 * g4 + f1_2 * g3 + f2 * g2 + f3_2 * g1 + f4 * g0 + f5_2 * g9_19 + f6 * g8_19 +
         f7_2 * g7_19 + f8 * g6_19 + f9_2 * g5_19;
  h[5] = f0 * g5 + f1 * g4 + f2 * g3 + f3 * g2 + f4 * g1 + f5 * g0 + f6 * g9_19 + f7 * g8_19 +
         f8 * g7_19 + f9 * g6_19;
  h[6] = f0 * g6 + f1_2 * g5 + f2 * g4 + f3_2 * g3 + f4 * g2 + f5_2 * g1 + f6 * g0 +
         f7_2 * g9_19 + f8 * g8_19 + f9_2 * g7_19;
  h[7] = f0 * g7 + f1 * g6 + f2 * g5 + f3 * g4 + f4 * g3 + f5 * g2 + f6 * g1 + f7 * g0 +
         f8 * g9_19 + f9 * g8_19;
  h[8] = f0 * g8 + f1_2 * g7 + f2 * g6 + f3_2 * g5 + f4 * g4 + f5_2 * g3 + f6 * g2 + f7_2 * g1 +
         f8 * g0 + f9_2 * g9_19;
  h[9] = f0 * g9 + f1 * g8 + f2 * g7 + f3 * g6 + f4 * g5 + f5 * g4 + f6 * g3 + f7 * g2 +
         f8 * g1 + f9 * g0;
  carryProduct(out, h);
}

// The product terms of mul with each pair i < j merged into one doubled term.
void squareLimbs(FieldElement& out, const FieldElement& f) {
  const int64_t f0 = f.limb[0], f1 = f.limb[1], f2 = f.limb[2], f3 = f.limb[3], f4 = f.limb[4];
  const int64_t f5 = f.limb[5], f6 = f.limb[6], f7 = f.limb[7], f8 = f.limb[8], f9 = f.limb[9];
  const int64_t f0_2 = 2 * f0, f1_2 = 2 * f1, f2_2 = 2 * f2, f3_2 = 2 * f3, f4_2 = 2 * f4;
  const int64_t f5_2 = 2 * f5, f6_2 = 2 * f6, f7_2 = 2 * f7;
  const int64_t f5_38 = 38 * f5, f6_19 = 19 * f6, f7_38 = 38 * f7, f8_19 = 19 * f8;
  const int64_t f9_38 = 38 * f9;
  int64_t h[kFieldLimbs];
  h[0] = f0 * f0 + f1_2 * f9_38 + f2_2 * f8_19 + f3_2 * f7_38 + f4_2 * f6_19 + f5 * f5_38;
  h[1] = f0_2 * f1 + f2 * f9_38 + f3_2 * f8_19 + f4 * f7_38 + f5_2 * f6_19;
  h[2] = f0_2 * f2 + f1_2 * f1 + f3_2 * f9_38 + f4_2 * f8_19 + f5_2 * f7_38 + f6 * f6_19;
  h[3] = f0_2 * f3 + f1_2 * f2 + f4 * f9_38 + f5_2 * f8_19 + f6 * f7_38;
  h[4] = f0_2 * f4 + f1_2 * f3_2 + f2 * f2 + f5_2 * f9_38 + f6_2 * f8_19 + f7 * f7_38;
  h[5] = f0_2 * f5 + f1_2 * f4 + f2_2 * f3 + f6 * f9_38 + f7_2 * f8_19;
  h[6] = f0_2 * f6 + f1_2 * f5_2 + f2_2 * f4 + f3_2 * f3 + f7_2 * f9_38 + f8 * f8_19;
  h[7] = f0_2 * f7 + f1_2 * f6 + f2_2 * f5 + f3_2 * f4 + f8 * f9_38;
  h[8] = f0_2 * f8 + f1_2 * f7_2 + f2_2 * f6 + f3_2 * f5_2 + f4 * f4 + f9 * f9_38;
  h[9] = f0_2 * f9 + f1_2 * f8 + f2_2 * f7 + f3_2 * f6 + f4_2 * f5;
  carryProduct(out, h);
}
#endif

// z^(2^252 - 4) into t and z^11 into z11: the part of the exponent chain
// that invert and powP58 share.
void powerChain(FieldElement& t, FieldElement& z11, const FieldElement& z) {
  auto squareTimes = [](FieldElement& out, const FieldElement& f, int times) {
    square(out, f);
    for (int i = 1; i < times; ++i) square(out, out);
  };
  FieldElement z2, z9, z5, z10, z20, z50, z100, a;
  square(z2, z);
  squareTimes(a, z2, 2);       // z^8
  mul(z9, a, z);               // z^9
  mul(z11, z9, z2);            // z^11
  square(a, z11);
  mul(z5, a, z9);              // z^(2^5 - 1)
  squareTimes(a, z5, 5);
  mul(z10, a, z5);             // z^(2^10 - 1)
  squareTimes(a, z10, 10);
  mul(z20, a, z10);            // z^(2^20 - 1)
  squareTimes(a, z20, 20);
  mul(a, a, z20);              // z^(2^40 - 1)
  squareTimes(a, a, 10);
  mul(z50, a, z10);            // z^(2^50 - 1)
  squareTimes(a, z50, 50);
  mul(z100, a, z50);           // z^(2^100 - 1)
  squareTimes(a, z100, 100);
  mul(a, a, z100);             // z^(2^200 - 1)
  squareTimes(a, a, 50);
  mul(a, a, z50);              // z^(2^250 - 1)
  squareTimes(t, a, 2);        // z^(2^252 - 4)
}

}  // namespace

void setSmall(FieldElement& out, int32_t n) {
  out.limb[0] = n;
  for (int i = 1; i < kFieldLimbs; ++i) out.limb[i] = 0;
}

void mulSmall(FieldElement& out, const FieldElement& f, int32_t c) {
  int64_t h[kFieldLimbs];
  for (int i = 0; i < kFieldLimbs; ++i) h[i] = int64_t{f.limb[i]} * c;
  carryProduct(out, h);
}

void mul(FieldElement& out, const FieldElement& f, const FieldElement& g) {
#ifdef INSTALLER_FIELD_WIDE_PRODUCTS
  mulWide(out, f, g);
#else
  mulLimbs(out, f, g);
#endif
}

void square(FieldElement& out, const FieldElement& f) {
#ifdef INSTALLER_FIELD_WIDE_PRODUCTS
  squareWide(out, f);
#else
  squareLimbs(out, f);
#endif
}

void invert(FieldElement& out, const FieldElement& f) {
  FieldElement t, z11;
  powerChain(t, z11, f);
  square(t, t);
  square(t, t);
  square(t, t);      // z^(2^255 - 32)
  mul(out, t, z11);  // z^(2^255 - 21) = z^(p - 2)
}

void powP58(FieldElement& out, const FieldElement& f) {
  FieldElement t, z11;
  powerChain(t, z11, f);
  mul(out, t, f);  // z^(2^252 - 3)
}

bool isAtLeastP(const FieldElement& f) {
  int64_t h[kFieldLimbs];
  for (int i = 0; i < kFieldLimbs; ++i) h[i] = f.limb[i];
  return strictIsAtLeastP(h);
}

// The limb sum and the canonical value differ by a multiple of the odd p, so
// the parity flips exactly when the sum is p or more, or negative. Limbs
// straight out of mul do not tell the sign of the sum by the top limb alone
// (a zero top limb over a negative lower limb), so the strict form comes first.
int parity(const FieldElement& f) {
  int64_t h[kFieldLimbs];
  strictForm(h, f);
  const int flip = (strictIsAtLeastP(h) || h[9] < 0) ? 1 : 0;
  return static_cast<int>(h[0] & 1) ^ flip;
}

void decode(FieldElement& out, const unsigned char in[kFieldBytes]) {
  for (int i = 0; i < kFieldLimbs; ++i) {
    const int bit = kLimbBit[i];
    const int width = i == kFieldLimbs - 1 ? 26 : kLimbWidth[i];  // bit 255 too
    const uint32_t word = le32(in + bit / 8) >> (bit % 8);
    out.limb[i] = static_cast<int32_t>(word & ((uint32_t{1} << width) - 1));
  }
}

void encode(unsigned char out[kFieldBytes], const FieldElement& f) {
  // Strict form: the sum is within one p of the canonical value.
  int64_t h[kFieldLimbs];
  strictForm(h, f);
  // Add or subtract that p and carry again.
  if (h[9] < 0) {
    h[0] -= 19;
    h[9] += kTwo25;
  } else if (strictIsAtLeastP(h)) {
    h[0] += 19;
    h[9] -= kTwo25;
  }
  for (int i = 0; i < 9; ++i) carryUp(h, i);
  // Pack the limbs' bits little-endian.
  uint64_t bits = 0;
  int held = 0;
  int written = 0;
  for (int i = 0; i < kFieldLimbs; ++i) {
    bits |= static_cast<uint64_t>(h[i]) << held;
    held += kLimbWidth[i];
    for (; held >= 8; held -= 8, bits >>= 8) out[written++] = static_cast<unsigned char>(bits);
  }
  out[written] = static_cast<unsigned char>(bits);  // the last 7 bits
}

}  // namespace curve25519
