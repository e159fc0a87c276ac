#include "signature/signature_check.h"

using namespace curve25519;

namespace {

constexpr size_t kChallengeOffset = kSignatureDigestLength;
constexpr size_t kResponseOffset = kChallengeOffset + kSignatureChallengeLength;
constexpr size_t kChallengeInScalar = 8;  // the challenge lands on bytes 8 to 23 of k

bool sameBytes(const unsigned char* a, const unsigned char* b, size_t count) {
  unsigned char difference = 0;
  for (size_t i = 0; i < count; ++i) difference |= a[i] ^ b[i];
  return difference == 0;
}

}  // namespace

void challengeScalar(const SigHashConstants& tables, const unsigned char digest[kSignatureDigestLength],
                     const unsigned char challenge[kSignatureChallengeLength],
                     unsigned char k[kScalarBytes]) {
  sigHash(tables, digest, kSignatureDigestLength, k);
  for (size_t i = 0; i < kSignatureChallengeLength; ++i) k[kChallengeInScalar + i] ^= challenge[i];
  k[31] = static_cast<unsigned char>((k[31] & 0x7F) | 0x40);
  k[0] = static_cast<unsigned char>(k[0] & 0xF8);
}

void prepareVerificationKey(VerificationKey& out, const PublicKey& key) {
  out.key = key;
  prepareLadderKey(out.ladder, key.point);
}

const VerificationKey& builtInVerificationKey() {
  static const VerificationKey prepared = [] {
    VerificationKey made;
    prepareVerificationKey(made, builtInKey());
    return made;
  }();
  return prepared;
}

bool checkSignaturePayload(const unsigned char payload[kSignaturePayloadLength],
                           const unsigned char digest[kSignatureDigestLength], const VerificationKey& key) {
  const SigHashConstants& tables = key.key.tables;
  // The part's digest is the digest of what was read.
  if (!sameBytes(payload, digest, kSignatureDigestLength)) return false;
  // k from sigHash of the digest and the challenge.
  const unsigned char* challenge = payload + kChallengeOffset;
  unsigned char k[kScalarBytes];
  challengeScalar(tables, digest, challenge, k);
  // x = u([response]K + [k]G), the response taken as it is.
  unsigned char x[kFieldBytes];
  doubleScalarX(payload + kResponseOffset, k, key.ladder, x);
  // Its sigHash starts with the challenge.
  unsigned char c[kSigHashLength];
  sigHash(tables, x, kFieldBytes, c);
  return sameBytes(c, challenge, kSignatureChallengeLength);
}

bool checkSignaturePayload(const unsigned char payload[kSignaturePayloadLength],
                           const unsigned char digest[kSignatureDigestLength], const PublicKey& key) {
  VerificationKey prepared;
  prepareVerificationKey(prepared, key);
  return checkSignaturePayload(payload, digest, prepared);
}
