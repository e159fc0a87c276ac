// Key files, and the sigHash tables they carry.
#include "signature/signing_key.h"

#include <gmpxx.h>
#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <cstring>

#include "support/curve_reference.h"
#include "support/scratch_dir.h"

namespace {

PosixFileSystem posixFs;

using curve_reference::toBytes;

bool same(const void* a, const void* b, size_t size) { return std::memcmp(a, b, size) == 0; }

// With SHA-256's initial state and round constants (the first 32 bits of the fractional parts of
// the square and cube roots of the first primes) it is SHA-256; longer messages are refused.
TEST(SigHash, WithSha256ConstantsItIsSha256UpToItsLongestMessage) {
  SigHashConstants sha256;
  for (auto [out, count, degree] : {std::tuple{sha256.initialState, 8, 2ul}, {sha256.roundConstants, 64, 3ul}}) {
    for (mpz_class n = 2, root; count > 0; ++n) {
      mpz_root(root.get_mpz_t(), mpz_class(n << (32 * degree)).get_mpz_t(), degree);
      if (mpz_probab_prime_p(n.get_mpz_t(), 20)) *out++ = uint32_t(mpz_class(root & 0xffffffffu).get_ui()), --count;
    }
  }
  unsigned char message[kSigHashMaxMessage + 1], ours[kSigHashLength] = {}, library[SHA256_DIGEST_LENGTH];
  for (size_t length = 0; length <= kSigHashMaxMessage; ++length) {
    message[length] = static_cast<unsigned char>(length * 167 + 13);
    ASSERT_TRUE(sigHash(sha256, message, length, ours));
    EXPECT_TRUE(same(ours, SHA256(message, length, library), kSigHashLength)) << length;
  }
  EXPECT_TRUE(!sigHash(sha256, message, kSigHashMaxMessage + 1, library) && same(ours, library, 32));  // untouched
}

std::string withLine(const std::string& text, const std::string& name, const std::string& line) {  // replaced, or removed
  const size_t start = text.find("\n" + name + " ") + 1;
  return text.substr(0, start) + line + text.substr(text.find('\n', start) + 1);
}

TEST(SigningKey, KeyFilesAreReadAndMalformedOnesRefusedWithTheReason) {
  const std::string keys = std::string(INSTALLER_SOURCE_DIR) + "/keys/development";
  PrivateKey key;
  PublicKey publicKey;
  std::string error;
  ASSERT_TRUE(readPrivateKeyFile(posixFs, keys + ".key", &key, &error)) << error;
  const std::string good = formatPrivateKey(key, "first\nsecond");
  const size_t stateAt = good.find("\nsighash-initial-state ") + 1, pointAt = good.find("\npublic-key ") + 12;
  const mpz_class a = curve_reference::fromBytes(key.scalar), l = curve_reference::groupOrder(), bit255 = mpz_class(1) << 255;
  const auto with = [&](const mpz_class& u, const mpz_class& s) {  // another point or scalar
    PrivateKey other = key;
    std::memcpy(other.publicKey.point, toBytes(u).data(), 32), std::memcpy(other.scalar, toBytes(s).data(), 32);
    return formatPrivateKey(other, "");
  };
  const auto changed = [&](size_t at, const char* bytes) { return std::string(good).replace(at, 1, bytes); };
  const mpz_class u = curve_reference::fromBytes(key.publicKey.point);
  const std::pair<std::string, const char*> cases[] = {
      {"\n#x\n" + good.substr(stateAt) + "\n\n# blank lines, comments, any order\n" + good.substr(0, stateAt), nullptr},
      {withLine(good, "public-key", ""), "missing field public-key"},
      {withLine(good, "private-key", ""), "missing field private-key"},
      {withLine(good, "sighash-round-constants", ""), "missing field sighash-round-constants"},
      {good + good.substr(pointAt - 11), "given a second time"},
      {good + " public-key 00\n", "expected a field name, one blank and a value"},
      {good + "remark here\n", "unknown field \"remark\""},
      {changed(pointAt, ""), "public-key must be 64 lowercase hex digits"},
      {changed(pointAt, "D"), "public-key must be 64 lowercase hex digits"},
      {with(u + bit255, a), "not the u-coordinate"}, {with(curve_reference::kPrime + 9, a), "not the u-coordinate"},
      {with(2, a), "not the u-coordinate"},  // 2^3 + 486662 * 2^2 + 2 is no square mod p
      {changed(stateAt + 22, ""), "8 words"}, {changed(stateAt + 30, "  "), "8 words"},
      {changed(good.find("\nsighash-round-constants ") + 25, "g"), "64 words"},
      {withLine(good, "private-key", "private-key 00\n"), "private-key must be 64 hex digits"},
      {with(u, a + 1), "does not belong to the public-key"}, {with(u, l), "not below the group order"},
      {with(u, l - a), "does not belong to the public-key"},  // [l - a]G has the odd v
  };
  for (const auto& [text, reason] : cases) {
    PrivateKey read;
    error.clear();
    EXPECT_EQ(parsePrivateKey(text, &read, &error), reason == nullptr) << text;
    EXPECT_NE(error.find(reason ? reason : ""), std::string::npos) << error;
    EXPECT_TRUE(reason || same(&read, &key, sizeof key));
  }
  EXPECT_FALSE(parsePublicKey(good, &publicKey, &error) || error.find("must not carry the private-key") == std::string::npos);
  EXPECT_TRUE(isBelowGroupOrder(toBytes(l - 1).data()) && !isBelowGroupOrder(toBytes(2 * bit255 - 1).data()));
  EXPECT_TRUE(!readPublicKeyFile(posixFs, keys, &publicKey, &error) && error == keys + ": cannot be opened");
  ScratchDir scratch;  // a key file of the largest size is read; one byte more is refused
  for (const size_t size : {size_t{16384}, size_t{16385}}) {
    ASSERT_TRUE(writeFile(scratch / "padded.key", "#" + std::string(size - good.size() - 2, 'x') + "\n" + good));
    PrivateKey read;
    EXPECT_EQ(readPrivateKeyFile(posixFs, scratch / "padded.key", &read, &error), size == 16384) << size << ": " << error;
  }
}

}  // namespace
