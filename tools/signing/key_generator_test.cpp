#include "signing/key_generator.h"

#include <sys/stat.h>

#include <cstdlib>

#include <gtest/gtest.h>

#include "signing/package_signer.h"
#include "support/scratch_dir.h"

namespace {

// The verifier takes the point with the even v; signDigest checks what it made.
TEST(KeyGenerator, KeysCompletedFromAnyScalarSignWhatTheVerifierAccepts) {
  PrivateKey key;
  ASSERT_TRUE(generateKey(&key));  // for its sigHash tables
  const unsigned char digest[kSignatureDigestLength] = {1};
  unsigned char payload[kSignaturePayloadLength];
  for (unsigned char n = 0; n < 16; ++n) {  // 0 gives infinity, 1 the base point itself: no keys
    for (unsigned char& byte : key.scalar) byte = &byte == key.scalar ? n : 0;
    EXPECT_TRUE(completeKeyPoint(key.scalar, key.publicKey.point) ? n > 1 && signDigest(key, digest, payload) : n < 2)
        << int{n};
  }
}

TEST(Keygen, WritesAPrivateKeyOnlyItsOwnerReadsAndNeverOverwritesIt) {
  ScratchDir scratch;
  const std::string command = std::string(INSTALLER_KEYGEN) + " " + (scratch / "k") + " 2>/dev/null";
  struct stat info;
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_TRUE(stat((scratch / "k.key").c_str(), &info) == 0 && (info.st_mode & 0777) == 0600);
  const std::string before = readFile(scratch / "k.key");
  EXPECT_NE(std::system(command.c_str()), 0);
  EXPECT_EQ(readFile(scratch / "k.key"), before);
  const std::string extra = std::string(INSTALLER_KEYGEN) + " " + (scratch / "x") + " comment extra 2>/dev/null";
  EXPECT_TRUE(std::system(extra.c_str()) == 2 << 8 && stat((scratch / "x.key").c_str(), &info) != 0);  // usage
}

}  // namespace
