#include "signing/group_scalar.h"

#include <gtest/gtest.h>

#include <random>

#include "support/curve_reference.h"

using curve_reference::Bytes32;
using curve_reference::fromBytes;
using curve_reference::groupOrder;
using curve_reference::toBytes;

namespace {

mpz_class modOrder(const mpz_class& n) {
  mpz_class r;
  mpz_mod(r.get_mpz_t(), n.get_mpz_t(), groupOrder().get_mpz_t());
  return r;
}

TEST(GroupScalar, ReducesWideHashOutputModuloTheOrder) {
  std::mt19937 engine(1);
  unsigned char wide[64];
  for (int round = 0; round < 20; ++round) {
    for (unsigned char& b : wide) b = static_cast<unsigned char>(round == 0 ? 0xff : engine());
    Bytes32 out;
    ASSERT_TRUE(reduceScalar(wide, sizeof wide, out.data()));
    EXPECT_EQ(fromBytes(out.data()), modOrder(fromBytes(wide, sizeof wide)));
  }
  EXPECT_FALSE(reduceScalar(wide, 65, Bytes32{}.data()));
}

TEST(GroupScalar, ResponseSolvesTheSignatureEquation) {
  std::mt19937 engine(2);
  auto random = [&] {
    Bytes32 bytes;
    for (unsigned char& b : bytes) b = static_cast<unsigned char>(engine());
    return bytes;
  };
  for (int round = 0; round < 20; ++round) {
    const Bytes32 r = toBytes(modOrder(fromBytes(random().data())));
    const Bytes32 k = random();  // unreduced, as the check builds it
    const Bytes32 a = toBytes(modOrder(fromBytes(random().data())));
    Bytes32 response;
    ASSERT_TRUE(signatureResponse(r.data(), k.data(), a.data(), response.data()));
    EXPECT_LT(fromBytes(response.data()), groupOrder());
    // response * a + k = r (mod l)
    EXPECT_EQ(modOrder(fromBytes(response.data()) * fromBytes(a.data()) + fromBytes(k.data())),
              fromBytes(r.data()));
  }
  Bytes32 response;
  EXPECT_FALSE(signatureResponse(toBytes(5).data(), toBytes(3).data(), toBytes(0).data(), response.data()));
  EXPECT_FALSE(signatureResponse(toBytes(5).data(), toBytes(3).data(), toBytes(groupOrder()).data(),
                                 response.data()));
}

TEST(GroupScalar, NegationAddsUpToTheOrder) {
  Bytes32 out;
  ASSERT_TRUE(negateScalar(toBytes(12345).data(), out.data()));
  EXPECT_EQ(fromBytes(out.data()), groupOrder() - 12345);
  ASSERT_TRUE(negateScalar(toBytes(0).data(), out.data()));
  EXPECT_EQ(fromBytes(out.data()), 0);
  EXPECT_TRUE(isZeroScalar(out.data()));
  EXPECT_FALSE(isZeroScalar(toBytes(mpz_class(1) << 255).data()));
}

}  // namespace
