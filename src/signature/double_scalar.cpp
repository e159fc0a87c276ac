#include "signature/double_scalar.h"

#include <cstdint>

#include "signature/field25519_wide.h"

namespace curve25519 {

const FieldElement twiceBaseV = {{39999547, 18689728, 59995525, 1648697, 57546132, 24010086,
                                  19059592, 5425144, 63499247, 16420658}};

namespace {

constexpr int kScalarBits = 256;
constexpr int32_t kCurveA = 486662;
constexpr int32_t kLadderConstant = 121665;  // (A - 2) / 4
constexpr int32_t kBaseU = 9;
constexpr int32_t kBaseVSquared = 39420360;  // 9^3 + A * 9^2 + 9

#ifdef INSTALLER_FIELD_WIDE_PRODUCTS
// The ladder's registers stay in the digit form between products.
using LadderElement = WideElement;
void toLadder(LadderElement& out, const FieldElement& f) { toWide(out, f); }
void fromLadder(FieldElement& out, const LadderElement& f) { fromWide(out, f); }
#else
using LadderElement = FieldElement;
void toLadder(LadderElement& out, const FieldElement& f) { copy(out, f); }
void fromLadder(FieldElement& out, const LadderElement& f) { copy(out, f); }
#endif

LadderElement ladderSmall(int32_t n) {
  FieldElement f;
  setSmall(f, n);
  LadderElement out;
  toLadder(out, f);
  return out;
}

// A point by its u-coordinate only, u = x / z; z = 0 is the point at infinity.
struct LadderPoint {
  LadderElement x;
  LadderElement z;
};

// Bit j of a little-endian 256-bit number; 0 outside bits 0 to 255.
int bitAt(const unsigned char* n, int j) {
  if (j < 0 || j >= kScalarBits) return 0;
  return (n[j >> 3] >> (j & 7)) & 1;
}

// out = choose ? b : a, with no branch or index that depends on choose.
template <typename Word, int kWords>
void selectWords(Word (&out)[kWords], const Word (&a)[kWords], const Word (&b)[kWords], int choose) {
  const Word mask = -static_cast<Word>(choose & 1);
  for (int i = 0; i < kWords; ++i) out[i] = a[i] ^ ((a[i] ^ b[i]) & mask);
}

#ifdef INSTALLER_FIELD_WIDE_PRODUCTS
void select(WideElement& out, const WideElement& a, const WideElement& b, int choose) {
  selectWords(out.digit, a.digit, b.digit, choose);
}
#else
void select(FieldElement& out, const FieldElement& a, const FieldElement& b, int choose) {
  selectWords(out.limb, a.limb, b.limb, choose);
}
#endif

void select(LadderPoint& out, const LadderPoint& a, const LadderPoint& b, int choose) {
  select(out.x, a.x, b.x, choose);
  select(out.z, a.z, b.z, choose);
}

// registers[index] for index 0, 1 or 2, reading all three.
void pick(LadderPoint& out, const LadderPoint* registers, int index) {
  select(out, registers[0], registers[1], index == 1);
  select(out, out, registers[2], index == 2);
}

// a = u^3 + A u^2 + u and y, a square root of a when there is one (Atkin's
// method for p = 5 mod 8): beta = (2a)^((p-5)/8), i = 2a beta^2, y = a beta (i - 1).
void curveRoot(FieldElement& a, FieldElement& y, const FieldElement& u) {
  FieldElement t, beta, i, one;
  setSmall(one, 1);
  square(t, u);
  mulSmall(i, u, kCurveA);
  add(t, t, i);
  add(t, t, one);
  mul(a, t, u);
  add(t, a, a);
  powP58(beta, t);
  square(i, beta);
  mul(i, i, t);
  sub(i, i, one);
  mul(y, a, beta);
  mul(y, y, i);
}

// (X : Z) doubled: AA = (X + Z)^2, BB = (X - Z)^2, E = AA - BB;
// result (AA BB : E (AA + 121665 E)).
void ladderDouble(LadderPoint& out, const LadderPoint& p) {
  LadderElement t, aa, bb, e;
  add(t, p.x, p.z);
  square(aa, t);
  sub(t, p.x, p.z);
  square(bb, t);
  sub(e, aa, bb);
  mulSmall(t, e, kLadderConstant);
  add(t, t, aa);
  mul(out.x, aa, bb);
  mul(out.z, e, t);
}

// p + q where p - q has the affine u-coordinate d (nullptr: the base point's 9):
// a = (Xp - Zp)(Xq + Zq), b = (Xp + Zp)(Xq - Zq); result ((a + b)^2 : d (a - b)^2).
void ladderAdd(LadderPoint& out, const LadderPoint& p, const LadderPoint& q,
               const LadderElement* d) {
  LadderElement t1, t2, a, b;
  sub(t1, p.x, p.z);
  add(t2, q.x, q.z);
  mul(a, t1, t2);
  add(t1, p.x, p.z);
  sub(t2, q.x, q.z);
  mul(b, t1, t2);
  add(t1, a, b);
  sub(t2, a, b);
  square(out.x, t1);
  square(t2, t2);
  if (d == nullptr)
    mulSmall(out.z, t2, kBaseU);
  else
    mul(out.z, *d, t2);
}

// The u-coordinates of K + G and K - G by the chord formula
// u(P + Q) = (vQ - vP)^2 / (uQ - uP)^2 - A - uP - uQ, from v_K's root y.
void sumsWithBase(FieldElement& plus, FieldElement& minus, const FieldElement& uK,
                  const FieldElement& a, const FieldElement& y) {
  FieldElement n, m, qMinus, qPlus, w, c;
  setSmall(c, kBaseVSquared);
  add(n, a, c);                // v_K^2 + v_G^2
  mul(m, twiceBaseV, y);       // 2 v_G y
  sub(qMinus, n, m);
  add(qPlus, n, m);
  if (parity(y) == 1) {        // y = -v_K: the two squares trade places
    copy(w, qMinus);
    copy(qMinus, qPlus);
    copy(qPlus, w);
  }
  setSmall(c, kBaseU);
  sub(w, uK, c);
  square(w, w);
  invert(w, w);                // 1 / (u_K - 9)^2
  setSmall(c, kCurveA + kBaseU);
  mul(plus, qMinus, w);
  sub(plus, plus, uK);
  sub(plus, plus, c);
  mulSmall(plus, plus, 1);
  mul(minus, qPlus, w);
  sub(minus, minus, uK);
  sub(minus, minus, c);
  mulSmall(minus, minus, 1);
}

// The sequence r_j of the ladder for j = 0 to 256, from the bit changes
// t_j = n_j xor n_(j-1) of both scalars: r_j = ts_j xor (r_(j-1) and ts_j = tk_j).
void ladderBits(unsigned char r[kScalarBits + 1], const unsigned char* s, const unsigned char* k) {
  int previous = 0;
  for (int j = 0; j <= kScalarBits; ++j) {
    const int ts = bitAt(s, j) ^ bitAt(s, j - 1);
    const int tk = bitAt(k, j) ^ bitAt(k, j - 1);
    previous = ts ^ (previous & (ts == tk ? 1 : 0));
    r[j] = static_cast<unsigned char>(previous);
  }
}

}  // namespace

void prepareLadderKey(LadderKey& out, const unsigned char key[kFieldBytes]) {
  // The key's u.
  decode(out.u, key);
  // Its v, up to sign.
  FieldElement a, y;
  curveRoot(a, y, out.u);
  // u of K + G and of K - G.
  sumsWithBase(out.plusBase, out.minusBase, out.u, a, y);
}

void doubleScalarX(const unsigned char s[kScalarBytes], const unsigned char k[kScalarBytes],
                   const unsigned char key[kFieldBytes], unsigned char out[kFieldBytes]) {
  LadderKey prepared;
  prepareLadderKey(prepared, key);
  doubleScalarX(s, k, prepared, out);
}

void doubleScalarX(const unsigned char s[kScalarBytes], const unsigned char k[kScalarBytes],
                   const LadderKey& key, unsigned char out[kFieldBytes]) {
  // The bit sequences.
  unsigned char r[kScalarBits + 1];
  ladderBits(r, s, k);
  // The key's values in the ladder's form, and the registers: infinity,
  // G or K, K + G.
  LadderElement keyU, plusBase, minusBase;
  toLadder(keyU, key.u);
  toLadder(plusBase, key.plusBase);
  toLadder(minusBase, key.minusBase);
  LadderPoint registers[3];
  registers[0].x = ladderSmall(1);
  registers[0].z = ladderSmall(0);
  select(registers[1].x, ladderSmall(kBaseU), keyU, r[kScalarBits]);
  registers[1].z = ladderSmall(1);
  registers[2].x = plusBase;
  registers[2].z = ladderSmall(1);
  // One doubling and two differential additions per bit, from the top.
  // Choices that follow k are masked selections; those that follow r
  // are not, but r is all zeros when s is 0.
  for (int j = kScalarBits - 1; j >= 0; --j) {
    const int sj = bitAt(s, j), sUp = bitAt(s, j + 1);
    const int kj = bitAt(k, j), kUp = bitAt(k, j + 1);
    LadderPoint chosen, next[3];
    LadderElement difference;
    pick(chosen, registers, (sj ^ sUp) + (kj ^ kUp));
    ladderDouble(next[0], chosen);
    const LadderPoint& partner = r[j] == r[j + 1] ? registers[0] : registers[2];
    ladderAdd(next[1], registers[1], partner, r[j] ? &keyU : nullptr);
    select(difference, minusBase, plusBase, sUp == kUp);
    ladderAdd(next[2], registers[2], registers[0], &difference);
    for (int i = 0; i < 3; ++i) registers[i] = next[i];
  }
  // The chosen register's affine u; z = 0 inverts to 0.
  LadderPoint result;
  pick(result, registers, bitAt(s, 0) + bitAt(k, 0));
  FieldElement x, z, zInverse, u;
  fromLadder(x, result.x);
  fromLadder(z, result.z);
  invert(zInverse, z);
  mul(u, x, zInverse);
  encode(out, u);
}

bool isCurvePoint(const unsigned char key[kFieldBytes]) {
  FieldElement u, a, y, ySquared;
  decode(u, key);
  curveRoot(a, y, u);
  square(ySquared, y);
  unsigned char left[kFieldBytes], right[kFieldBytes];
  encode(left, ySquared);
  encode(right, a);
  for (int i = 0; i < kFieldBytes; ++i)
    if (left[i] != right[i]) return false;
  return true;
}

}  // namespace curve25519
