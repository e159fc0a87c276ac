// The check of a package's signature part: the SHA-1 digest of the package's
// bytes, and a Schnorr-style signature over it under the package-signing key.
#pragma once

#include <cstddef>

#include "signature/signing_key.h"

class PackageStream;

constexpr size_t kSignatureDigestLength = 20;  // SHA-1
constexpr size_t kSignatureChallengeLength = 16;
constexpr size_t kSignatureResponseLength = 32;
// digest, challenge, response; a longer signature part has ignored bytes after.
constexpr size_t kSignaturePayloadLength =
    kSignatureDigestLength + kSignatureChallengeLength + kSignatureResponseLength;

// A public key with the curve set-up that depends on it alone done once.
struct VerificationKey {
  PublicKey key;
  LadderKey ladder;
};

void prepareVerificationKey(VerificationKey& out, const PublicKey& key);
// The built-in key, prepared on first use.
const VerificationKey& builtInVerificationKey();

// Checks the current part, a signature part none of whose payload has been
// read, against the built-in key (or the given one). False when the stream
// does not hash, the part is shorter than 68 bytes, the digest differs from
// the stream's, or the signature does not hold. The stream's hash restarts.
bool verifySignature(PackageStream& stream);
bool verifySignature(PackageStream& stream, const PublicKey& key);
bool verifySignature(PackageStream& stream, const VerificationKey& key);

// Steps after reading the part: the payload's digest against the digest of
// the bytes read, then the signature over it.
bool checkSignaturePayload(const unsigned char payload[kSignaturePayloadLength],
                           const unsigned char digest[kSignatureDigestLength], const VerificationKey& key);
bool checkSignaturePayload(const unsigned char payload[kSignaturePayloadLength],
                           const unsigned char digest[kSignatureDigestLength], const PublicKey& key);

// The scalar k of a digest and a challenge: sigHash of the digest with the
// challenge xored into bytes 8 to 23, then byte 31 to (b & 0x7f) | 0x40 and
// byte 0 to b & 0xf8.
void challengeScalar(const SigHashConstants& tables, const unsigned char digest[kSignatureDigestLength],
                     const unsigned char challenge[kSignatureChallengeLength],
                     unsigned char k[kScalarBytes]);
