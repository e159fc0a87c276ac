// The check of a signature payload: the SHA-1 digest of a package's bytes,
// and a Schnorr-style signature over it under the package-signing key. Which
// bytes the digest covers is told in doc/package_format.md.
#pragma once

#include <cstddef>

#include "signature/signing_key.h"

constexpr size_t kSignatureDigestLength = 20;  // SHA-1
constexpr size_t kSignatureChallengeLength = 16;
constexpr size_t kSignatureResponseLength = 32;
// digest, challenge, response; a longer signature part has ignored bytes after.
constexpr size_t kSignaturePayloadLength =
    kSignatureDigestLength + kSignatureChallengeLength + kSignatureResponseLength;

// A public key with the curve set-up that depends on it alone done once.
struct VerificationKey {
  PublicKey key;
  curve25519::LadderKey ladder;
};

void prepareVerificationKey(VerificationKey& out, const PublicKey& key);
// The built-in key, prepared on first use.
const VerificationKey& builtInVerificationKey();

// The payload's digest against the digest of the bytes read, then the
// signature over it.
bool checkSignaturePayload(const unsigned char payload[kSignaturePayloadLength],
                           const unsigned char digest[kSignatureDigestLength], const VerificationKey& key);
bool checkSignaturePayload(const unsigned char payload[kSignaturePayloadLength],
                           const unsigned char digest[kSignatureDigestLength], const PublicKey& key);

// The scalar k of a digest and a challenge: sigHash of the digest with the
// challenge xored into bytes 8 to 23, then byte 31 to (b & 0x7f) | 0x40 and
// byte 0 to b & 0xf8.
void challengeScalar(const SigHashConstants& tables, const unsigned char digest[kSignatureDigestLength],
                     const unsigned char challenge[kSignatureChallengeLength],
                     unsigned char k[curve25519::kScalarBytes]);
