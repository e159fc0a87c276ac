#include "signing/package_signer.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include "signing/group_scalar.h"

using namespace curve25519;

namespace {

constexpr size_t kNonceHashBytes = 64;  // HMAC-SHA-512
constexpr char kNonceLabel[] = "package signature nonce";

// r = HMAC-SHA-512 keyed with a over the label and the digest, mod l.
bool deriveNonce(const PrivateKey& key, const unsigned char digest[kSignatureDigestLength],
                 unsigned char r[kScalarBytes]) {
  unsigned char message[sizeof kNonceLabel + kSignatureDigestLength];
  for (size_t i = 0; i < sizeof kNonceLabel; ++i) message[i] = static_cast<unsigned char>(kNonceLabel[i]);
  for (size_t i = 0; i < kSignatureDigestLength; ++i) message[sizeof kNonceLabel + i] = digest[i];
  unsigned char wide[kNonceHashBytes];
  unsigned int length = 0;
  if (HMAC(EVP_sha512(), key.scalar, kScalarBytes, message, sizeof message, wide, &length) == nullptr ||
      length != kNonceHashBytes)
    return false;
  const bool reduced = reduceScalar(wide, sizeof wide, r);
  for (unsigned char& byte : wide) byte = 0;
  return reduced && !isZeroScalar(r);
}

}  // namespace

bool signDigest(const PrivateKey& key, const unsigned char digest[kSignatureDigestLength],
                unsigned char payload[kSignaturePayloadLength]) {
  const SigHashConstants& tables = key.publicKey.tables;
  unsigned char* challenge = payload + kSignatureDigestLength;
  unsigned char* response = challenge + kSignatureChallengeLength;
  // The nonce r and R = [r]G (s = 0: the key point plays no part).
  unsigned char r[kScalarBytes];
  if (!deriveNonce(key, digest, r)) return false;
  const unsigned char zero[kScalarBytes] = {};
  unsigned char rU[kFieldBytes];
  doubleScalarX(zero, r, key.publicKey.point, rU);
  // Challenge = the first 16 bytes of sigHash(u of R).
  unsigned char c[kSigHashLength];
  sigHash(tables, rU, kFieldBytes, c);
  for (size_t i = 0; i < kSignatureDigestLength; ++i) payload[i] = digest[i];
  for (size_t i = 0; i < kSignatureChallengeLength; ++i) challenge[i] = c[i];
  // k as the verifier builds it; response = (r - k) / a, so that
  // [response]K + [k]G = [r]G = R.
  unsigned char k[kScalarBytes];
  challengeScalar(tables, digest, challenge, k);
  const bool made = signatureResponse(r, k, key.scalar, response);
  for (unsigned char& byte : r) byte = 0;
  // What the verifier will compute.
  return made && checkSignaturePayload(payload, digest, key.publicKey);
}
