#include "signing/key_generator.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <random>

#include "support/curve_reference.h"
#include "support/scratch_dir.h"

using namespace curve25519;

using curve_reference::Bytes32;
using curve_reference::fromBytes;
using curve_reference::toBytes;

namespace {

// v of [a]G by big-integer arithmetic.
bool hasOddV(const mpz_class& a) {
  const curve_reference::Point point = curve_reference::multiply(a, curve_reference::basePoint());
  return mpz_odd_p(point.v.get_mpz_t()) != 0;
}

TEST(KeyGenerator, NewKeysAreValidKeyFilesAndDifferEachTime) {
  PrivateKey first, second;
  ASSERT_TRUE(generateKey(&first));
  ASSERT_TRUE(generateKey(&second));
  for (const PrivateKey* key : {&first, &second}) {
    PrivateKey read;
    std::string error;
    EXPECT_TRUE(parsePrivateKey(formatPrivateKey(*key, "test"), &read, &error)) << error;
    EXPECT_FALSE(hasOddV(fromBytes(key->scalar)));
  }
  EXPECT_NE(std::memcmp(first.scalar, second.scalar, kScalarBytes), 0);
  EXPECT_NE(std::memcmp(first.publicKey.point, second.publicKey.point, kFieldBytes), 0);
  EXPECT_NE(std::memcmp(&first.publicKey.tables, &second.publicKey.tables, sizeof(SigHashConstants)), 0);
}

// A scalar whose point has the odd v is replaced by l - a; one with the even
// v is kept.
TEST(KeyGenerator, ScalarsAreNormalisedToTheEvenPoint) {
  std::mt19937 engine(3);
  int seen[2] = {0, 0};
  while (seen[0] < 2 || seen[1] < 2) {
    Bytes32 bytes;
    for (unsigned char& b : bytes) b = static_cast<unsigned char>(engine());
    bytes[31] &= 0x0f;
    const mpz_class a = fromBytes(bytes.data());
    const bool odd = hasOddV(a);
    ++seen[odd ? 1 : 0];
    Bytes32 point;
    ASSERT_TRUE(completeKeyPoint(bytes.data(), point.data()));
    EXPECT_EQ(fromBytes(bytes.data()), odd ? curve_reference::groupOrder() - a : a);
    EXPECT_FALSE(hasOddV(fromBytes(bytes.data())));
    EXPECT_EQ(point, curve_reference::encodedU(
                         curve_reference::multiply(a, curve_reference::basePoint())));
  }
}

TEST(KeyGenerator, ScalarsThatCannotBeKeysAreRefused) {
  for (const mpz_class& a : {mpz_class(0), mpz_class(1), mpz_class(curve_reference::groupOrder() - 1)}) {
    Bytes32 scalar = toBytes(a), point;
    EXPECT_FALSE(completeKeyPoint(scalar.data(), point.data()));
  }
}

TEST(KeyGenerator, KeygenWritesAPairAndNeverOverwrites) {
  ScratchDir scratch;
  const std::string name = scratch / "vendor";
  const std::string command = std::string(INSTALLER_KEYGEN) + " " + name + " 'vendor key' 2>/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  PrivateKey key;
  PublicKey publicKey;
  std::string error;
  ASSERT_TRUE(readPrivateKeyFile(name + ".key", &key, &error)) << error;
  ASSERT_TRUE(readPublicKeyFile(name + ".pub", &publicKey, &error)) << error;
  EXPECT_EQ(std::memcmp(&key.publicKey, &publicKey, sizeof publicKey), 0);
  EXPECT_EQ(readFile(name + ".pub").rfind("# vendor key\n", 0), 0u);
  struct stat info;
  ASSERT_EQ(::stat((name + ".key").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  const std::string before = readFile(name + ".key");
  EXPECT_NE(std::system(command.c_str()), 0);
  EXPECT_EQ(readFile(name + ".key"), before);
}

}  // namespace
