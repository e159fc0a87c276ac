#include "pkgfile/package_signature.h"

#include "pkgfile/package_stream.h"

bool verifySignature(PackageStream& stream) { return verifySignature(stream, builtInVerificationKey()); }

bool verifySignature(PackageStream& stream, const PublicKey& key) {
  VerificationKey prepared;
  prepareVerificationKey(prepared, key);
  return verifySignature(stream, prepared);
}

bool verifySignature(PackageStream& stream, const VerificationKey& key) {
  PackageStreamBuf* buf = stream.streamBuf();
  // 1. Only a hashing stream has a digest to check.
  if (buf == nullptr || !buf->hashing()) return false;
  // 2. D = the digest of everything fed since the hash last started.
  buf->finishHash();
  unsigned char digest[kSignatureDigestLength];
  for (size_t i = 0; i < kSignatureDigestLength; ++i) digest[i] = buf->digest()[i];
  // 3. 68 bytes straight from the part, not hashed.
  if (buf->remaining() < kSignaturePayloadLength) return false;
  unsigned char payload[kSignaturePayloadLength];
  if (buf->takeUnhashed(payload, kSignaturePayloadLength) != kSignaturePayloadLength) return false;
  // 4 to 9.
  return checkSignaturePayload(payload, digest, key);
}
