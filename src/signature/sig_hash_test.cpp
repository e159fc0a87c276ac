#include "signature/sig_hash.h"

#include <gmpxx.h>
#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <random>
#include <string>

#include "signature/signing_key.h"

namespace {

// The first 32 bits of the fractional part of the n-th root of each of the
// first primes: how SHA-256 derives its constants (square roots for the
// initial state, cube roots for the round constants).
void rootFractions(uint32_t* out, int count, unsigned long rootDegree) {
  int found = 0;
  for (unsigned long candidate = 2; found < count; ++candidate) {
    bool isPrime = true;
    for (unsigned long d = 2; d * d <= candidate; ++d) isPrime = isPrime && candidate % d != 0;
    if (!isPrime) continue;
    mpz_class scaled = mpz_class(candidate) << (32 * rootDegree), root;
    mpz_root(root.get_mpz_t(), scaled.get_mpz_t(), rootDegree);  // root(candidate) * 2^32
    out[found++] = static_cast<uint32_t>(mpz_class(root & 0xffffffffu).get_ui());
  }
}

SigHashConstants sha256Constants() {
  SigHashConstants constants;
  rootFractions(constants.initialState, kSigHashStateWords, 2);
  rootFractions(constants.roundConstants, kSigHashRounds, 3);
  return constants;
}

TEST(SigHash, WithSha256ConstantsItIsSha256ForEveryOneBlockLength) {
  const SigHashConstants constants = sha256Constants();
  ASSERT_EQ(constants.initialState[0], 0x6a09e667u);
  ASSERT_EQ(constants.roundConstants[63], 0xc67178f2u);
  std::mt19937 engine(256);
  for (size_t length = 0; length <= kSigHashMaxMessage; ++length) {
    unsigned char message[kSigHashMaxMessage + 1];
    for (size_t i = 0; i < length; ++i) message[i] = static_cast<unsigned char>(engine());
    unsigned char ours[kSigHashLength], library[SHA256_DIGEST_LENGTH];
    ASSERT_TRUE(sigHash(constants, message, length, ours));
    SHA256(message, length, library);
    EXPECT_EQ(std::string(ours, ours + 32), std::string(library, library + 32)) << length;
  }
}

TEST(SigHash, RefusesMessagesLongerThanOneBlockHolds) {
  const SigHashConstants constants = sha256Constants();
  unsigned char message[64] = {};
  unsigned char out[kSigHashLength] = {0x5a};
  EXPECT_FALSE(sigHash(constants, message, kSigHashMaxMessage + 1, out));
  EXPECT_EQ(out[0], 0x5a);
}

TEST(SigHash, EveryConstantShapesTheResult) {
  const SigHashConstants base = sha256Constants();
  const unsigned char message[20] = {1, 2, 3};
  unsigned char reference[kSigHashLength];
  ASSERT_TRUE(sigHash(base, message, sizeof message, reference));
  for (int word = 0; word < kSigHashStateWords + kSigHashRounds; ++word) {
    SigHashConstants changed = base;
    if (word < kSigHashStateWords)
      changed.initialState[word] ^= 1;
    else
      changed.roundConstants[word - kSigHashStateWords] ^= 0x80000000u;
    unsigned char out[kSigHashLength];
    ASSERT_TRUE(sigHash(changed, message, sizeof message, out));
    EXPECT_NE(std::string(out, out + 32), std::string(reference, reference + 32)) << word;
  }
}

TEST(SigHash, TheProgramsOwnHashUsesTheBuiltInTables) {
  const unsigned char message[32] = {9};
  unsigned char own[kSigHashLength], withTables[kSigHashLength];
  ASSERT_TRUE(sigHash(message, sizeof message, own));
  ASSERT_TRUE(sigHash(builtInKey().tables, message, sizeof message, withTables));
  EXPECT_EQ(std::string(own, own + 32), std::string(withTables, withTables + 32));
}

}  // namespace
