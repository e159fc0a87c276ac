#include "signature/field25519.h"

#include <gtest/gtest.h>

#include <random>

#include "support/curve_reference.h"

using curve_reference::Bytes32;
using curve_reference::fromBytes;
using curve_reference::prime;
using curve_reference::reduce;
using curve_reference::toBytes;

namespace {

using namespace curve25519;

constexpr int32_t kMax26 = (1 << 26) - 1;
constexpr int32_t kMax25 = (1 << 25) - 1;

Bytes32 encoded(const FieldElement& f) {
  Bytes32 out;
  encode(out.data(), f);
  return out;
}

mpz_class valueOf(const FieldElement& f) { return fromBytes(encoded(f).data()); }

FieldElement fromValue(const mpz_class& n) {
  const Bytes32 bytes = toBytes(n);
  FieldElement f;
  decode(f, bytes.data());
  return f;
}

// The limb sum of f, not reduced.
mpz_class limbSum(const FieldElement& f) {
  static const int bit[kFieldLimbs] = {0, 26, 51, 77, 102, 128, 153, 179, 204, 230};
  mpz_class sum = 0;
  for (int i = 0; i < kFieldLimbs; ++i) sum += mpz_class(f.limb[i]) << bit[i];
  return sum;
}

// p + offset as limbs within their widths, offset small.
FieldElement nearP(int32_t offset) {
  FieldElement f = {{kMax26 - 18 + offset, kMax25, kMax26, kMax25, kMax26, kMax25, kMax26, kMax25,
                     kMax26, kMax25}};
  return f;
}

class RandomValues {
 public:
  mpz_class next() {
    Bytes32 bytes;
    for (auto& b : bytes) b = static_cast<unsigned char>(engine_());
    bytes[31] &= 0x7f;
    return reduce(fromBytes(bytes.data()));
  }

 private:
  std::mt19937_64 engine_{25519};
};

TEST(FieldElement, EncodeReducesToTheCanonicalValue) {
  struct Case {
    const char* what;
    FieldElement f;
    mpz_class expected;
  };
  FieldElement negativeLow = {{0, -1, 0, 0, 0, 0, 0, 0, 0, 0}};           // -2^26
  FieldElement negativeTop = {{5, 0, 0, 0, 0, 0, 0, 0, 0, -1}};           // 5 - 2^230
  FieldElement twoP = {{2 * (kMax26 - 18), 2 * kMax25, 2 * kMax26, 2 * kMax25, 2 * kMax26,
                        2 * kMax25, 2 * kMax26, 2 * kMax25, 2 * kMax26, 2 * kMax25}};
  FieldElement minusOne = {{-1, 0, 0, 0, 0, 0, 0, 0, 0, 0}};
  const Case cases[] = {
      {"p + 1", nearP(1), 1},
      {"p", nearP(0), 0},
      {"p - 1", nearP(-1), prime() - 1},
      {"2^255 - 1", nearP(18), 18},
      {"-2^26 with a zero top limb", negativeLow, prime() - (mpz_class(1) << 26)},
      {"5 - 2^230", negativeTop, prime() + 5 - (mpz_class(1) << 230)},
      {"2p, limb by limb", twoP, 0},
      {"-1", minusOne, prime() - 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(curve_reference::hex(encoded(c.f)), curve_reference::hex(toBytes(c.expected))) << c.what;
    EXPECT_EQ(parity(c.f), mpz_odd_p(c.expected.get_mpz_t()) ? 1 : 0) << c.what;
  }
}

// Decoding keeps bit 255 (all ones is 2^256 - 1 = 2p + 37); random values
// come back as the same bytes.
TEST(FieldElement, DecodeKeepsBit255AndEncodeGivesTheSameBytes) {
  Bytes32 allOnes;
  allOnes.fill(0xff);
  FieldElement f;
  decode(f, allOnes.data());
  EXPECT_EQ(limbSum(f), (mpz_class(1) << 256) - 1);
  EXPECT_EQ(valueOf(f), 37);
  RandomValues random;
  for (int i = 0; i < 200; ++i) {
    const mpz_class n = random.next();
    const Bytes32 bytes = toBytes(n);
    decode(f, bytes.data());
    EXPECT_EQ(limbSum(f), n);
    EXPECT_EQ(encoded(f), bytes);
  }
}

TEST(FieldElement, IsAtLeastPAtItsBoundary) {
  FieldElement aboveTop = nearP(-40);
  aboveTop.limb[9] = kMax25 + 1;
  FieldElement lowerLimbShort = nearP(5);
  lowerLimbShort.limb[4] = kMax26 - 1;
  EXPECT_TRUE(isAtLeastP(nearP(0)));
  EXPECT_TRUE(isAtLeastP(nearP(1)));
  EXPECT_TRUE(isAtLeastP(nearP(18)));
  EXPECT_FALSE(isAtLeastP(nearP(-1)));
  EXPECT_TRUE(isAtLeastP(aboveTop));
  EXPECT_FALSE(isAtLeastP(lowerLimbShort));
}

// Every operation on random values and on the unreduced sums and differences
// that the ladder feeds them, against big-integer arithmetic; the parity of
// an unreduced value is that of its canonical value.
TEST(FieldElement, ArithmeticAgreesWithBigIntegers) {
  RandomValues random;
  for (int i = 0; i < 300; ++i) {
    const mpz_class a = random.next(), b = random.next(), c = random.next(), d = random.next();
    const FieldElement fa = fromValue(a), fb = fromValue(b), fc = fromValue(c), fd = fromValue(d);
    FieldElement sum, difference, out;
    add(sum, fa, fb);
    sub(difference, fc, fd);
    EXPECT_EQ(valueOf(sum), reduce(a + b));
    EXPECT_EQ(valueOf(difference), reduce(c - d));
    EXPECT_EQ(parity(difference), mpz_odd_p(reduce(c - d).get_mpz_t()) ? 1 : 0);
    mul(out, sum, difference);
    EXPECT_EQ(valueOf(out), reduce((a + b) * (c - d)));
    EXPECT_EQ(parity(out), mpz_odd_p(reduce((a + b) * (c - d)).get_mpz_t()) ? 1 : 0);
    square(out, difference);
    EXPECT_EQ(valueOf(out), reduce((c - d) * (c - d)));
    square(out, sum);
    EXPECT_EQ(valueOf(out), reduce((a + b) * (a + b)));
    for (int32_t small : {1, 121665, 486662}) {
      mulSmall(out, difference, small);
      EXPECT_EQ(valueOf(out), reduce((c - d) * small)) << small;
    }
    mul(out, fa, fa);  // aliased inputs
    EXPECT_EQ(valueOf(out), reduce(a * a));
  }
}

TEST(FieldElement, InvertAndPowP58AgreeWithBigIntegers) {
  RandomValues random;
  for (int i = 0; i < 20; ++i) {
    const mpz_class a = random.next();
    FieldElement f = fromValue(a), out;
    invert(out, f);
    EXPECT_EQ(valueOf(out), curve_reference::inverse(a));
    powP58(out, f);
    EXPECT_EQ(valueOf(out), curve_reference::power(a, (prime() - 5) / 8));
    invert(f, f);  // in place
    mul(out, f, fromValue(a));
    EXPECT_EQ(valueOf(out), 1);
  }
}

TEST(FieldElement, InvertOfZeroIsZero) {
  FieldElement zero, out;
  setSmall(zero, 0);
  invert(out, zero);
  EXPECT_EQ(encoded(out), Bytes32{});
  invert(out, nearP(0));  // p is zero too
  EXPECT_EQ(encoded(out), Bytes32{});
}

TEST(FieldElement, SetSmallTakesNegativeValuesModuloP) {
  FieldElement f;
  setSmall(f, -3);
  EXPECT_EQ(valueOf(f), prime() - 3);
}

}  // namespace
