#include "pkgfile/package_signature.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "pkgfile/package_stream.h"
#include "signing/package_signer.h"
#include "support/curve_reference.h"
#include "support/package_writer.h"
#include "support/signed_package.h"

namespace {

const PublicKey& developmentPublic() { return developmentSigningKey().publicKey; }

// One package's parts from its header part up to its signature part.
std::string packageParts(const std::string& name, const std::string& content) {
  return partHeader(kPackageHeaderPart, 36) + headerPayload(name, 0x01020066, 1700000000, 0) +
         partHeader(kArchitecturePart, 7) + "powerpc" + partHeader(7, 3) + "odd" +
         partHeader(kFileContainerPart, static_cast<uint32_t>(content.size())) + content;
}

std::string packageFile(const std::string& body) { return PackageWriter().raw(body).bytes(); }

// The verdict of each signature part met while reading the file the way the
// installer does (hashing on, reading some parts, skipping the rest).
std::vector<bool> verdicts(const std::string& file, const PublicKey& key, bool hashing = true) {
  std::istringstream source(file);
  PackageStream stream(source, hashing);
  for (uint32_t type : {1, 18, 20, 16, 3, 19, 17, 21, 4, 9}) stream.acceptPart(type);
  std::vector<bool> results;
  for (int32_t type = stream.nextPart(); type != kNoPart; type = stream.nextPart()) {
    if (type == kSignaturePart) {
      results.push_back(verifySignature(stream, key));
    } else if (type == kPackageHeaderPart) {
      char name[16];
      stream.read(name, sizeof name);  // read through the stream, the rest skipped
    }
  }
  return results;
}

std::string flipped(std::string file, size_t offset, char bits = 0x01) {
  file[offset] ^= bits;
  return file;
}

bool verifiesOnce(const std::string& file, const PublicKey& key) {
  const std::vector<bool> results = verdicts(file, key);
  return results.size() == 1 && results[0];
}

TEST(VerifySignature, TheBuiltInKeyIsTheDefault) {
  const std::string file = packageFile(signedPackageParts(developmentSigningKey(), packageParts("base", "x")));
  std::istringstream source(file);
  PackageStream stream(source, true);
  stream.acceptPart(kSignaturePart);
  ASSERT_EQ(stream.nextPart(), kSignaturePart);
  const bool builtInIsDevelopment =
      std::memcmp(&builtInKey(), &developmentPublic(), sizeof(PublicKey)) == 0;
  EXPECT_EQ(verifySignature(stream), builtInIsDevelopment);
}

// Every byte from the package header part to the signature part's header is
// covered; the file header and the bytes after the signature are not.
TEST(VerifySignature, CoversExactlyTheHeaderPartToTheSignaturePartHeader) {
  const std::string parts = packageParts("base", "some file bytes");
  const std::string file = packageFile(signedPackageParts(developmentSigningKey(), parts, "trailing")) +
                           partHeader(kFileContainerPart, 2) + "zz";
  const size_t coveredEnd = kFileHeaderSize + parts.size() + kPartHeaderSize;
  for (size_t offset = kFileHeaderSize; offset < coveredEnd; ++offset)
    EXPECT_FALSE(verifiesOnce(flipped(file, offset), developmentPublic())) << "offset " << offset;
  for (size_t offset = coveredEnd + kSignaturePayloadLength; offset < file.size(); ++offset)
    EXPECT_TRUE(verifiesOnce(flipped(file, offset), developmentPublic())) << "offset " << offset;
  for (size_t offset = 5; offset < kFileHeaderSize; ++offset)  // the length field, made larger
    EXPECT_TRUE(verifiesOnce(flipped(file, offset, 0x40), developmentPublic())) << "offset " << offset;
  const std::string unregistered = PackageWriter(kWriterUnregisteredMagic).raw(file.substr(8)).bytes();
  EXPECT_TRUE(verifiesOnce(unregistered, developmentPublic()));
}

TEST(VerifySignature, EachBundleMemberVerifiesAloneAndTheBundleHeaderIsCoveredByNone) {
  const PrivateKey& key = developmentSigningKey();
  const std::string bundleHead = partHeader(kBundleHeaderPart, 32) + headerPayload("bundle") +
                                 partHeader(kBundleMembersPart, 2) + std::string(2, '\0');
  const std::string first = signedPackageParts(key, packageParts("first", "one"));
  const std::string second = signedPackageParts(key, packageParts("second", "two"));
  const std::string file = packageFile(bundleHead + first + second);
  EXPECT_EQ(verdicts(file, key.publicKey), (std::vector<bool>{true, true}));
  const size_t bundlePayload = kFileHeaderSize + kPartHeaderSize;
  for (size_t offset = bundlePayload; offset < bundlePayload + 32; ++offset)
    EXPECT_EQ(verdicts(flipped(file, offset), key.publicKey), (std::vector<bool>{true, true})) << "offset " << offset;
  const size_t inFirst = kFileHeaderSize + bundleHead.size() + first.size() - kSignaturePayloadLength - 7;
  EXPECT_EQ(verdicts(flipped(file, inFirst), key.publicKey), (std::vector<bool>{false, true}));
}

TEST(VerifySignature, ShortSignaturePartFailsAndLongOneIsCheckedOnItsFirst68Bytes) {
  const PrivateKey& key = developmentSigningKey();
  const std::string parts = packageParts("base", "content");
  const std::string signedParts = signedPackageParts(key, parts, std::string(32, '\x5a'));
  // The 100-byte part verifies and the next part is found after its tail.
  const std::string longFile = packageFile(signedParts + partHeader(kImagePart, 1) + "i");
  std::istringstream source(longFile);
  PackageStream stream(source, true);
  stream.acceptPart(kSignaturePart);
  stream.acceptPart(kImagePart);
  ASSERT_EQ(stream.nextPart(), kSignaturePart);
  EXPECT_EQ(stream.partLength(), 100u);
  EXPECT_TRUE(verifySignature(stream, key.publicKey));
  EXPECT_EQ(stream.remaining(), 32u);
  EXPECT_EQ(stream.nextPart(), kImagePart);
  // The same signature cut to 67 bytes (header length 67).
  const std::string signature = signedPackageParts(key, parts).substr(parts.size() + kPartHeaderSize);
  const std::string shortFile =
      packageFile(parts + partHeader(kSignaturePart, 67) + signature.substr(0, 67));
  EXPECT_EQ(verdicts(shortFile, key.publicKey), std::vector<bool>{false});
  // A file that ends inside the signature although its header promises more.
  const std::string cutFile =
      PackageWriter().raw(parts + partHeader(kSignaturePart, 68) + signature.substr(0, 60)).lengthField(4096).bytes();
  EXPECT_EQ(verdicts(cutFile, key.publicKey), std::vector<bool>{false});
}

TEST(VerifySignature, StreamWithoutHashingFailsEveryCheck) {
  const std::string file = packageFile(signedPackageParts(developmentSigningKey(), packageParts("base", "x")));
  EXPECT_EQ(verdicts(file, developmentPublic(), false), std::vector<bool>{false});
}

// The response is used as it stands: one raised by the group order is the
// same scalar modulo l and still verifies; one raised by 1 does not.
TEST(VerifySignature, UnreducedResponseStillVerifies) {
  const std::string parts = packageParts("base", "content");
  const std::string file = packageFile(signedPackageParts(developmentSigningKey(), parts));
  const size_t responseAt = kFileHeaderSize + parts.size() + kPartHeaderSize + 36;
  const mpz_class response =
      curve_reference::fromBytes(reinterpret_cast<const unsigned char*>(file.data()) + responseAt);
  const struct {
    mpz_class added;
    bool verifies;
  } changes[] = {
      {curve_reference::groupOrder(), true},
      {3 * curve_reference::groupOrder(), true},
      {1, false},
  };
  for (const auto& change : changes) {
    const curve_reference::Bytes32 raised = curve_reference::toBytes(response + change.added);
    std::string changed = file;
    changed.replace(responseAt, 32, reinterpret_cast<const char*>(raised.data()), 32);
    EXPECT_EQ(verifiesOnce(changed, developmentPublic()), change.verifies);
  }
}

// Any changed byte of the 68, digest, challenge or response, fails the check,
// with the key prepared or not; the file read itself is checked through the
// prepared key.
TEST(VerifySignature, EveryPayloadByteMattersWithEitherFormOfTheKey) {
  const PrivateKey& key = developmentSigningKey();
  VerificationKey prepared;
  prepareVerificationKey(prepared, key.publicKey);
  unsigned char digest[kSignatureDigestLength] = {0x42};
  unsigned char payload[kSignaturePayloadLength];
  ASSERT_TRUE(signDigest(key, digest, payload));
  for (size_t i = 0; i <= kSignaturePayloadLength; ++i) {
    unsigned char changed[kSignaturePayloadLength];
    std::memcpy(changed, payload, sizeof changed);
    if (i < kSignaturePayloadLength) changed[i] ^= 0x04;  // i = 68: unchanged
    const bool expected = i == kSignaturePayloadLength;
    EXPECT_EQ(checkSignaturePayload(changed, digest, prepared), expected) << i;
    EXPECT_EQ(checkSignaturePayload(changed, digest, key.publicKey), expected) << i;
  }
  const std::string file = packageFile(signedPackageParts(key, packageParts("base", "x")));
  std::istringstream source(file);
  PackageStream stream(source, true);
  stream.acceptPart(kSignaturePart);
  ASSERT_EQ(stream.nextPart(), kSignaturePart);
  EXPECT_TRUE(verifySignature(stream, prepared));
}

TEST(VerifySignature, OtherKeysDoNotVerify) {
  const std::string file = packageFile(signedPackageParts(developmentSigningKey(), packageParts("base", "x")));
  PublicKey otherTables = developmentPublic();
  otherTables.tables.roundConstants[17] ^= 1;
  PublicKey otherPoint = developmentPublic();
  otherPoint.point[0] = 9;
  for (int i = 1; i < 32; ++i) otherPoint.point[i] = 0;
  PublicKey offCurve = developmentPublic();
  const curve_reference::Bytes32 twist =
      curve_reference::fromHex("e5210f12786811d3f4b7959d0538ae2c31dbe7106fc03c3efc4cd549c715a413");
  std::memcpy(offCurve.point, twist.data(), 32);
  for (const PublicKey* key : {&otherTables, &otherPoint, &offCurve})
    EXPECT_EQ(verdicts(file, *key), std::vector<bool>{false});
}

}  // namespace
