// The field and the ladder of the signature check against GMP.
#include <gtest/gtest.h>

#include <random>

#include "signature/double_scalar.h"
#include "support/curve_reference.h"

namespace {

using namespace curve25519;
using namespace curve_reference;

// Limbs at, around and twice p, negative limbs (a zero top limb over a negative one), all 256 bits decoded, the inverse
// of zero: the canonical value and its lowest bit. Typical values take every operation in the ladder below.
TEST(FieldElement, EncodeAndParityTakeTheCanonicalValue) {
  constexpr int32_t k26 = (1 << 26) - 1, k25 = (1 << 25) - 1;
  const auto nearP = [](int32_t offset) { return FieldElement{{k26 - 18 + offset, k25, k26, k25, k26, k25, k26, k25, k26, k25}}; };
  Bytes32 ones;
  ones.fill(0xff);
  FieldElement allOnes, inverseOfP;
  decode(allOnes, ones.data());
  invert(inverseOfP, nearP(0));
  const mpz_class two = 2;
  const std::pair<FieldElement, mpz_class> cases[] = {
      {nearP(1), kPrime + 1}, {nearP(0), kPrime}, {nearP(-1), kPrime - 1}, {nearP(18), kPrime + 18}, {{{-1}}, -1},
      {{{2 * k26 - 36, 2 * k25, 2 * k26, 2 * k25, 2 * k26, 2 * k25, 2 * k26, 2 * k25, 2 * k26, 2 * k25}}, 2 * kPrime},
      {{{0, -1}}, -(two << 25)}, {{{5, 0, 0, 0, 0, 0, 0, 0, 0, -1}}, 5 - (two << 229)}, {allOnes, (two << 255) - 1}, {inverseOfP, 0}};
  for (const auto& [f, n] : cases) {
    Bytes32 bytes;
    encode(bytes.data(), f);
    EXPECT_EQ(fromBytes(bytes.data()), reduce(n)) << n;
    EXPECT_EQ(parity(f), mpz_odd_p(reduce(n).get_mpz_t()) ? 1 : 0) << n;
  }
}

// [s]K + [k]G for whole, unreduced scalars against affine arithmetic on K's even root (the odd
// one gives another point), also with s or k zero, one or the group order.
TEST(DoubleScalarX, AgreesWithAffineArithmetic) {
  std::mt19937_64 engine(25519);
  const auto random = [&] {
    Bytes32 bytes;
    for (auto& byte : bytes) byte = static_cast<unsigned char>(engine());
    return bytes;
  };
  const auto ladder = [](const Bytes32& s, const Bytes32& k, const Bytes32& key) {
    Bytes32 out;
    doubleScalarX(s.data(), k.data(), key.data(), out.data());
    return out;
  };
  const Bytes32 zero{}, one = toBytes(1), l = toBytes(groupOrder());
  for (int i = 0; i < 24; ++i) {
    const Point key = multiply(fromBytes(random().data()) % groupOrder(), basePoint()), even = withEvenV(key);
    Bytes32 s = random(), k = random(), u = encodedU(key);
    if (i == 0) s.fill(0xff), k.fill(0xff);
    const Point sK = multiply(fromBytes(s.data()), even), kG = multiply(fromBytes(k.data()), basePoint());
    EXPECT_EQ(ladder(s, k, u), encodedU(add(sK, kG))) << i;
    EXPECT_NE(ladder(s, k, u), encodedU(add(multiply(fromBytes(s.data()), {false, even.u, kPrime - even.v}), kG))) << i;
    EXPECT_TRUE(ladder(s, zero, u) == encodedU(sK) && ladder(zero, k, u) == encodedU(kG) && ladder(zero, one, u) == toBytes(9));
    EXPECT_TRUE(ladder(one, zero, u) == u && ladder(zero, zero, u) == zero && ladder(l, zero, u) == zero) << i;
    EXPECT_EQ(ladder(zero, l, u), zero);
  }
}

}  // namespace
