#include "signature/double_scalar.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <random>

#include "support/curve_reference.h"

using curve_reference::Bytes32;
using curve_reference::fromBytes;
using curve_reference::fromHex;
using curve_reference::hex;
using curve_reference::Point;
using curve_reference::toBytes;

namespace {

using namespace curve25519;

Bytes32 doubleScalar(const Bytes32& s, const Bytes32& k, const Bytes32& key) {
  Bytes32 out;
  doubleScalarX(s.data(), k.data(), key.data(), out.data());
  return out;
}

Bytes32 small(unsigned value) { return toBytes(value); }

Bytes32 clamped(Bytes32 scalar) {
  scalar[0] &= 0xf8;
  scalar[31] = static_cast<unsigned char>((scalar[31] & 0x7f) | 0x40);
  return scalar;
}

// X25519 of the system crypto library.
Bytes32 libraryX25519(const Bytes32& scalar, const Bytes32& u) {
  Bytes32 out{};
  EVP_PKEY* own = EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, scalar.data(), 32);
  EVP_PKEY* peer = EVP_PKEY_new_raw_public_key(EVP_PKEY_X25519, nullptr, u.data(), 32);
  EVP_PKEY_CTX* context = EVP_PKEY_CTX_new(own, nullptr);
  size_t length = out.size();
  const bool derived = context && EVP_PKEY_derive_init(context) == 1 &&
                       EVP_PKEY_derive_set_peer(context, peer) == 1 &&
                       EVP_PKEY_derive(context, out.data(), &length) == 1 && length == 32;
  EVP_PKEY_CTX_free(context);
  EVP_PKEY_free(peer);
  EVP_PKEY_free(own);
  EXPECT_TRUE(derived);
  return out;
}

class RandomBytes {
 public:
  Bytes32 next() {
    Bytes32 bytes;
    for (auto& b : bytes) b = static_cast<unsigned char>(engine_());
    return bytes;
  }
  // A point of the prime-order group: [a]G for a random a.
  Point nextKeyPoint() {
    return curve_reference::multiply(fromBytes(next().data()) % curve_reference::groupOrder(),
                                     curve_reference::basePoint());
  }

 private:
  std::mt19937_64 engine_{7748};
};

Bytes32 keyOf(const Point& point) { return curve_reference::encodedU(point); }

TEST(DoubleScalarX, SmallScalarsGiveTheFixedPoints) {
  RandomBytes random;
  const Point k = random.nextKeyPoint();
  const Bytes32 key = keyOf(k);
  EXPECT_EQ(doubleScalar(small(0), small(1), key), small(9));
  EXPECT_EQ(doubleScalar(small(1), small(0), key), key);
  EXPECT_EQ(doubleScalar(small(0), small(0), key), Bytes32{});
  EXPECT_EQ(doubleScalar(toBytes(curve_reference::groupOrder()), small(0), key), Bytes32{});
  EXPECT_EQ(doubleScalar(small(0), toBytes(curve_reference::groupOrder()), key), Bytes32{});
}

TEST(DoubleScalarX, WithSZeroItIsX25519OfTheBasePoint) {
  RandomBytes random;
  const Bytes32 anyKey = keyOf(random.nextKeyPoint());
  for (int i = 0; i < 30; ++i) {
    const Bytes32 scalar = random.next();
    EXPECT_EQ(doubleScalar(small(0), clamped(scalar), anyKey), libraryX25519(scalar, small(9)));
  }
}

// Known answers of RFC 7748 first, then the system crypto library on random
// keys and scalars.
TEST(DoubleScalarX, WithKZeroItIsX25519OfTheKey) {
  const struct {
    const char* scalar;
    const char* u;
    const char* result;
  } vectors[] = {
      {"a546e36bf0527c9d3b16154b82465edd62144c0ac1fc5a18506a2244ba449ac4",
       "e6db6867583030db3594c1a424b15f7c726624ec26b3353b10a903a6d0ab1c4c",
       "c3da55379de9c6908e94ea4df28d084f32eccf03491c71f754b4075577a28552"},
      {"77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a",
       "de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f",
       "4a5d9d5ba4ce2de1728e3bf480350f25e07e21c947d19e3376f09b3c1e161742"},
      {"5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb",
       "8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a",
       "4a5d9d5ba4ce2de1728e3bf480350f25e07e21c947d19e3376f09b3c1e161742"},
  };
  for (const auto& vector : vectors)
    EXPECT_EQ(hex(doubleScalar(clamped(fromHex(vector.scalar)), small(0), fromHex(vector.u))),
              vector.result);

  RandomBytes random;
  for (int i = 0; i < 20; ++i) {
    const Bytes32 key = keyOf(random.nextKeyPoint());
    const Bytes32 scalar = random.next();
    EXPECT_EQ(doubleScalar(clamped(scalar), small(0), key), libraryX25519(scalar, key));
  }
}

// [s]K + [k]G for whole 256-bit s and k, unreduced, against affine arithmetic
// with the even roots; with the odd root of v_K the result differs. Every
// [k]G needs the base point's v, so this also checks that constant.
TEST(DoubleScalarX, AgreesWithAffineArithmeticOnTheEvenRoots) {
  RandomBytes random;
  const Point& g = curve_reference::basePoint();
  for (int i = 0; i < 24; ++i) {
    const Point k = random.nextKeyPoint();
    const Point evenK = curve_reference::pointWithEvenV(k.u);
    Bytes32 s = random.next(), scalar = random.next();
    if (i == 0) {  // the largest scalars
      s.fill(0xff);
      scalar.fill(0xff);
    }
    const mpz_class sValue = fromBytes(s.data()), kValue = fromBytes(scalar.data());
    const Point sum = curve_reference::add(curve_reference::multiply(sValue, evenK),
                                           curve_reference::multiply(kValue, g));
    const Point oddSum = curve_reference::add(
        curve_reference::multiply(sValue, curve_reference::negate(evenK)),
        curve_reference::multiply(kValue, g));
    const Bytes32 result = doubleScalar(s, scalar, keyOf(k));
    EXPECT_EQ(hex(result), hex(curve_reference::encodedU(sum))) << i;
    EXPECT_NE(hex(result), hex(curve_reference::encodedU(oddSum))) << i;
  }
}

TEST(DoubleScalarX, KeysOffTheCurveAreRecognised) {
  RandomBytes random;
  EXPECT_TRUE(isCurvePoint(small(9).data()));
  EXPECT_TRUE(isCurvePoint(keyOf(random.nextKeyPoint()).data()));
  // A u of the twist (from RFC 7748's second X25519 vector, bit 255 cleared).
  Bytes32 twist = fromHex("e5210f12786811d3f4b7959d0538ae2c31dbe7106fc03c3efc4cd549c715a413");
  EXPECT_FALSE(isCurvePoint(twist.data()));
}

}  // namespace
