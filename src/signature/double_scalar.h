// The one curve operation of the signature check: the u-coordinate of
// [s]*K + [k]*G on the Montgomery curve v^2 = u^3 + 486662 u^2 + u mod 2^255-19.
#pragma once

#include "signature/field25519.h"

namespace curve25519 {

constexpr int kScalarBytes = 32;

// 2 * v of the base point G (u = 9), v being the even square root of 39420360.
extern const FieldElement twiceBaseV;

// The key's share of the ladder's set-up, the same for every signature:
// u_K, and the u-coordinates of K + G and K - G (v_K the even root).
struct LadderKey {
  FieldElement u;
  FieldElement plusBase;
  FieldElement minusBase;
};

void prepareLadderKey(LadderKey& out, const unsigned char key[kFieldBytes]);

// Writes the canonical encoding of u([s]*K + [k]*G); 32 zero bytes for the
// point at infinity. s and k are 256-bit little-endian numbers, used whole
// (not reduced, not clamped); key is the encoded u of K, whose v is taken as
// the even square root. When s is 0 (the signer's [r]*G) the ladder takes no
// branch and reads no address that depends on k.
void doubleScalarX(const unsigned char s[kScalarBytes], const unsigned char k[kScalarBytes],
                   const unsigned char key[kFieldBytes], unsigned char out[kFieldBytes]);
// The same with the key's set-up done beforehand.
void doubleScalarX(const unsigned char s[kScalarBytes], const unsigned char k[kScalarBytes],
                   const LadderKey& key, unsigned char out[kFieldBytes]);

// Whether u^3 + 486662 u^2 + u is a square, i.e. the key is a point's u.
bool isCurvePoint(const unsigned char key[kFieldBytes]);

}  // namespace curve25519
