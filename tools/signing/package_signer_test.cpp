#include "signing/package_signer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "signing/key_generator.h"
#include "support/signed_package.h"

namespace {

std::string bytes(const unsigned char* data, size_t count) {
  return std::string(reinterpret_cast<const char*>(data), count);
}

TEST(PackageSigner, SignaturesVerifyUnderTheirKeyOnly) {
  PrivateKey key;
  ASSERT_TRUE(generateKey(&key));
  const PrivateKey& other = developmentSigningKey();
  std::mt19937 engine(4);
  for (int round = 0; round < 16; ++round) {
    unsigned char digest[kSignatureDigestLength];
    for (unsigned char& b : digest) b = static_cast<unsigned char>(engine());
    unsigned char payload[kSignaturePayloadLength];
    ASSERT_TRUE(signDigest(key, digest, payload));
    EXPECT_EQ(bytes(payload, kSignatureDigestLength), bytes(digest, sizeof digest));
    EXPECT_TRUE(checkSignaturePayload(payload, digest, key.publicKey));
    EXPECT_FALSE(checkSignaturePayload(payload, digest, other.publicKey));
    digest[round] ^= 1;
    EXPECT_FALSE(checkSignaturePayload(payload, digest, key.publicKey));
  }
}

TEST(PackageSigner, SameDigestGivesTheSameBytes) {
  const PrivateKey& key = developmentSigningKey();
  unsigned char digest[kSignatureDigestLength] = {1, 2, 3};
  unsigned char first[kSignaturePayloadLength], second[kSignaturePayloadLength];
  ASSERT_TRUE(signDigest(key, digest, first));
  ASSERT_TRUE(signDigest(key, digest, second));
  EXPECT_EQ(bytes(first, sizeof first), bytes(second, sizeof second));
  digest[19] = 1;
  ASSERT_TRUE(signDigest(key, digest, second));
  EXPECT_NE(bytes(first + kSignatureDigestLength, 48), bytes(second + kSignatureDigestLength, 48));
}

TEST(PackageSigner, ADamagedPrivateKeyMakesNoSignature) {
  PrivateKey damaged = developmentSigningKey();
  damaged.scalar[5] ^= 0x10;
  const unsigned char digest[kSignatureDigestLength] = {7};
  unsigned char payload[kSignaturePayloadLength];
  EXPECT_FALSE(signDigest(damaged, digest, payload));
}

}  // namespace
