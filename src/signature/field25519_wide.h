// Field elements as five 51-bit digits, the form in which hosts with 128-bit
// products multiply (digit j sits at bit 51j). mul and square of FieldElement
// go through it; the signature ladder keeps its registers in it, so that
// they are not split into limbs and joined again around every product.
// Fixed-size values, no allocation; results may alias inputs.
#pragma once

#include <cstdint>

#include "signature/field25519.h"

#if defined(__SIZEOF_INT128__) && !defined(INSTALLER_PORTABLE_FIELD)
#define INSTALLER_FIELD_WIDE_PRODUCTS 1

namespace curve25519 {

constexpr int kWideDigits = 5;

// Signed digits. After mul, square and mulSmall each lies in [0, 2^51)
// (digit 1 may stray by a small carry, up or down); add and sub do not carry,
// so their results go only into mul, square, mulSmall or one more add or sub.
struct WideElement {
  int64_t digit[kWideDigits];
};

namespace wide_products {

using Wide = __int128;
constexpr int64_t kTwo26 = int64_t{1} << 26;
constexpr uint64_t kMask51 = (uint64_t{1} << 51) - 1;

inline int64_t low51(Wide h) { return static_cast<int64_t>(static_cast<uint64_t>(h) & kMask51); }

// Carries the 128-bit digit sums into [0, 2^51); what overflows the top digit
// is worth 2^255 = 19 (mod p) at the bottom, and digit 1 takes the last carry.
inline void carryDigits(WideElement& out, Wide h0, Wide h1, Wide h2, Wide h3, Wide h4) {
  h1 += h0 >> 51;
  h2 += h1 >> 51;
  h3 += h2 >> 51;
  h4 += h3 >> 51;
  int64_t d0 = low51(h0) + 19 * static_cast<int64_t>(h4 >> 51);
  out.digit[1] = low51(h1) + (d0 >> 51);
  out.digit[0] = d0 & static_cast<int64_t>(kMask51);
  out.digit[2] = low51(h2);
  out.digit[3] = low51(h3);
  out.digit[4] = low51(h4);
}

}  // namespace wide_products

// Limbs (2j, 2j + 1) become digit j; any limbs will do.
inline void toWide(WideElement& out, const FieldElement& f) {
  for (int j = 0; j < kWideDigits; ++j)
    out.digit[j] = int64_t{f.limb[2 * j]} + int64_t{f.limb[2 * j + 1]} * wide_products::kTwo26;
}

// Each digit of a result of mul, square or mulSmall split into its 26-bit and
// 25-bit limbs, which are then within their widths as after FieldElement's mul.
inline void fromWide(FieldElement& out, const WideElement& f) {
  for (int j = 0; j < kWideDigits; ++j) {
    out.limb[2 * j] = static_cast<int32_t>(f.digit[j] & (wide_products::kTwo26 - 1));
    out.limb[2 * j + 1] = static_cast<int32_t>(f.digit[j] >> 26);
  }
}

inline void add(WideElement& out, const WideElement& f, const WideElement& g) {
  for (int j = 0; j < kWideDigits; ++j) out.digit[j] = f.digit[j] + g.digit[j];
}

inline void sub(WideElement& out, const WideElement& f, const WideElement& g) {
  for (int j = 0; j < kWideDigits; ++j) out.digit[j] = f.digit[j] - g.digit[j];
}

// f * c for a small constant c (below 2^20).
inline void mulSmall(WideElement& out, const WideElement& f, int32_t c) {
  using wide_products::Wide;
  wide_products::carryDigits(out, Wide{f.digit[0]} * c, Wide{f.digit[1]} * c, Wide{f.digit[2]} * c,
                             Wide{f.digit[3]} * c, Wide{f.digit[4]} * c);
}

// 25 products; those that reach 2^255 or above fold back times 19.
inline void mul(WideElement& out, const WideElement& f, const WideElement& g) {
  using wide_products::Wide;
  const int64_t* a = f.digit;
  const int64_t* b = g.digit;
  const int64_t b1_19 = 19 * b[1], b2_19 = 19 * b[2], b3_19 = 19 * b[3], b4_19 = 19 * b[4];
  wide_products::carryDigits(
      out,
      Wide{a[0]} * b[0] + Wide{a[1]} * b4_19 + Wide{a[2]} * b3_19 + Wide{a[3]} * b2_19 + Wide{a[4]} * b1_19,
      Wide{a[0]} * b[1] + Wide{a[1]} * b[0] + Wide{a[2]} * b4_19 + Wide{a[3]} * b3_19 + Wide{a[4]} * b2_19,
      Wide{a[0]} * b[2] + Wide{a[1]} * b[1] + Wide{a[2]} * b[0] + Wide{a[3]} * b4_19 + Wide{a[4]} * b3_19,
      Wide{a[0]} * b[3] + Wide{a[1]} * b[2] + Wide{a[2]} * b[1] + Wide{a[3]} * b[0] + Wide{a[4]} * b4_19,
      Wide{a[0]} * b[4] + Wide{a[1]} * b[3] + Wide{a[2]} * b[2] + Wide{a[3]} * b[1] + Wide{a[4]} * b[0]);
}

// The products of mul with each pair i < j merged into one doubled term.
inline void square(WideElement& out, const WideElement& f) {
  using wide_products::Wide;
  const int64_t* a = f.digit;
  const int64_t a0_2 = 2 * a[0], a1_2 = 2 * a[1], a2_2 = 2 * a[2], a3_2 = 2 * a[3];
  const int64_t a3_19 = 19 * a[3], a4_19 = 19 * a[4];
  wide_products::carryDigits(out, Wide{a[0]} * a[0] + Wide{a1_2} * a4_19 + Wide{a2_2} * a3_19,
                             Wide{a0_2} * a[1] + Wide{a[3]} * a3_19 + Wide{a2_2} * a4_19,
                             Wide{a0_2} * a[2] + Wide{a[1]} * a[1] + Wide{a3_2} * a4_19,
                             Wide{a0_2} * a[3] + Wide{a1_2} * a[2] + Wide{a[4]} * a4_19,
                             Wide{a0_2} * a[4] + Wide{a1_2} * a[3] + Wide{a[2]} * a[2]);
}

}  // namespace curve25519

#endif
