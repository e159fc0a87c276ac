#include "signature/signing_key.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/curve_reference.h"
#include "support/scratch_dir.h"

namespace {

const std::string kDevelopmentKey = std::string(INSTALLER_SOURCE_DIR) + "/keys/development.key";
const std::string kDevelopmentPublicKey = std::string(INSTALLER_SOURCE_DIR) + "/keys/development.pub";

bool sameKey(const PublicKey& a, const PublicKey& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

PrivateKey developmentKey() {
  PrivateKey key;
  std::string error;
  EXPECT_TRUE(readPrivateKeyFile(kDevelopmentKey, &key, &error)) << error;
  return key;
}

// The text with the line starting with name replaced (or removed when
// replacement is empty).
std::string withLine(const std::string& text, const std::string& name, const std::string& replacement) {
  const size_t start = text.find("\n" + name + " ") + 1;
  const size_t end = text.find('\n', start) + 1;
  return text.substr(0, start) + replacement + text.substr(end);
}

std::string fieldValue(const std::string& text, const std::string& name) {
  const size_t start = text.find("\n" + name + " ") + name.size() + 2;
  return text.substr(start, text.find('\n', start) - start);
}

TEST(SigningKey, DevelopmentKeyFilesAreAPairMarkedAsSuch) {
  const PrivateKey key = developmentKey();
  PublicKey publicKey;
  std::string error;
  ASSERT_TRUE(readPublicKeyFile(kDevelopmentPublicKey, &publicKey, &error)) << error;
  EXPECT_TRUE(sameKey(key.publicKey, publicKey));
  EXPECT_NE(readFile(kDevelopmentKey).find("NOT FOR PRODUCTION"), std::string::npos);
  EXPECT_NE(readFile(kDevelopmentPublicKey).find("NOT FOR PRODUCTION"), std::string::npos);
}

// The build turns the configured key file into the program's tables; the
// key file reader must read the same values from it.
TEST(SigningKey, BuiltInKeyIsTheConfiguredKeyFile) {
  PublicKey configured;
  std::string error;
  ASSERT_TRUE(readPublicKeyFile(INSTALLER_PUBLIC_KEY_FILE, &configured, &error)) << error;
  EXPECT_TRUE(sameKey(builtInKey(), configured));
  EXPECT_EQ(std::memcmp(packageSigningKey, configured.point, sizeof configured.point), 0);
}

TEST(SigningKey, FormattedKeysReadBackWithCommentsBlankLinesAndAnyOrder) {
  const PrivateKey key = developmentKey();
  const std::string text = formatPrivateKey(key, "first line\nsecond line");
  EXPECT_EQ(text.rfind("# first line\n# second line\n", 0), 0u);
  // Reverse the field lines and put blank and comment lines between them.
  std::string shuffled = "\n#x\n";
  for (const char* name : {"private-key", "sighash-round-constants", "sighash-initial-state", "public-key"})
    shuffled += std::string(name) + " " + fieldValue(text, name) + "\n\n# comment\n";
  PrivateKey read;
  std::string error;
  ASSERT_TRUE(parsePrivateKey(shuffled, &read, &error)) << error;
  EXPECT_EQ(std::memcmp(&read, &key, sizeof key), 0);
  PublicKey publicKey;
  ASSERT_TRUE(parsePublicKey(formatPublicKey(key.publicKey, ""), &publicKey, &error)) << error;
  EXPECT_TRUE(sameKey(publicKey, key.publicKey));
}

TEST(SigningKey, MalformedPublicKeyFilesAreRefusedWithTheReason) {
  const std::string good = formatPublicKey(developmentKey().publicKey, "test");
  const std::string point = fieldValue(good, "public-key");
  const std::string state = fieldValue(good, "sighash-initial-state");
  const std::string constants = fieldValue(good, "sighash-round-constants");
  std::string upperPoint = point;
  for (char& c : upperPoint) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  std::string highBit = point;
  highBit[62] = '8';
  highBit[63] = '0';
  const std::string pPlusOne = "eeffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f";
  const std::string twist = "e5210f12786811d3f4b7959d0538ae2c31dbe7106fc03c3efc4cd549c715a413";
  const struct {
    std::string text;
    const char* reason;
  } cases[] = {
      {withLine(good, "public-key", ""), "missing field public-key"},
      {withLine(good, "sighash-round-constants", ""), "missing field sighash-round-constants"},
      {good + "public-key " + point + "\n", "given a second time"},
      {good + " public-key " + point + "\n", "expected a field name, one blank and a value"},
      {good + "remark here\n", "unknown field \"remark\""},
      {good + "public-key\n", "expected a field name"},
      {good + "signature 00\n", "unknown field \"signature\""},
      {good + "private-key " + point + "\n", "must not carry the private-key"},
      {withLine(good, "public-key", "public-key " + upperPoint + "\n"), "64 lowercase hex digits"},
      {withLine(good, "public-key", "public-key " + point.substr(2) + "\n"), "64 lowercase hex digits"},
      {withLine(good, "public-key", "public-key  " + point + "\n"), "64 lowercase hex digits"},
      {withLine(good, "public-key", "public-key " + point + "\r\n"), "64 lowercase hex digits"},
      {withLine(good, "public-key", "public-key " + highBit + "\n"), "not the u-coordinate"},
      {withLine(good, "public-key", "public-key " + pPlusOne + "\n"), "not the u-coordinate"},
      {withLine(good, "public-key", "public-key " + twist + "\n"), "not the u-coordinate"},
      {withLine(good, "sighash-initial-state", "sighash-initial-state " + state.substr(9) + "\n"),
       "sighash-initial-state must be 8 words"},
      {withLine(good, "sighash-initial-state", "sighash-initial-state " + state + " 00000000\n"),
       "sighash-initial-state must be 8 words"},
      {withLine(good, "sighash-initial-state",
                "sighash-initial-state " + state.substr(0, 8) + "  " + state.substr(9, 62) + "\n"),
       "sighash-initial-state must be 8 words"},
      {withLine(good, "sighash-round-constants",
                "sighash-round-constants " + constants.substr(0, 9) + "0000000g" + constants.substr(17) + "\n"),
       "sighash-round-constants must be 64 words"},
      {withLine(good, "sighash-round-constants", "sighash-round-constants " + constants + " \n"),
       "sighash-round-constants must be 64 words"},
  };
  for (const auto& c : cases) {
    PublicKey key;
    std::string error;
    EXPECT_FALSE(parsePublicKey(c.text, &key, &error)) << c.reason;
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }
}

TEST(SigningKey, PrivateKeysMustBelongToTheirEvenPublicPoint) {
  const PrivateKey key = developmentKey();
  const std::string good = formatPrivateKey(key, "");
  const mpz_class a = curve_reference::fromBytes(key.scalar);
  const mpz_class& l = curve_reference::groupOrder();
  auto withScalar = [&](const mpz_class& scalar) {
    return withLine(good, "private-key", "private-key " + curve_reference::hex(curve_reference::toBytes(scalar)) + "\n");
  };
  const struct {
    std::string text;
    const char* reason;
  } cases[] = {
      {withLine(good, "private-key", ""), "missing field private-key"},
      {withLine(good, "private-key", "private-key 00\n"), "private-key must be 64 hex digits"},
      {withScalar(a + 1), "does not belong to the public-key"},
      {withScalar(l - a), "does not belong to the public-key"},  // the point with the odd v
      {withScalar(a + l), "not below the group order"},
      {withScalar(l), "not below the group order"},
  };
  for (const auto& c : cases) {
    PrivateKey read;
    std::string error;
    EXPECT_FALSE(parsePrivateKey(c.text, &read, &error)) << c.reason;
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }
}

TEST(SigningKey, GroupOrderBoundary) {
  const mpz_class& l = curve_reference::groupOrder();
  EXPECT_TRUE(isBelowGroupOrder(curve_reference::toBytes(0).data()));
  EXPECT_TRUE(isBelowGroupOrder(curve_reference::toBytes(l - 1).data()));
  EXPECT_FALSE(isBelowGroupOrder(curve_reference::toBytes(l).data()));
  EXPECT_FALSE(isBelowGroupOrder(curve_reference::toBytes((mpz_class(1) << 256) - 1).data()));
}

TEST(SigningKey, UnreadableKeyFilesNameTheirPath) {
  ScratchDir scratch;
  const std::string missing = scratch / "missing.pub";
  const std::string huge = scratch / "huge.pub";
  ASSERT_TRUE(writeFile(huge, std::string(20000, '#')));
  for (const std::string& path : {missing, huge, scratch.path()}) {
    PublicKey key;
    std::string error;
    EXPECT_FALSE(readPublicKeyFile(path, &key, &error)) << path;
    EXPECT_EQ(error.rfind(path, 0), 0u) << error;
  }
}

}  // namespace
