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
  // Only a hashing stream has a digest to check.
  if (buf == nullptr || !buf->hashing()) return false;
  // D = the digest of everything fed since the hash last started.
  buf->finishHash();
  unsigned char digest[kSignatureDigestLength];
  for (size_t i = 0; i < kSignatureDigestLength; ++i) digest[i] = buf->digest()[i];
  // 68 bytes straight from the part, not hashed.
  if (buf->remaining() < kSignaturePayloadLength) return false;
  unsigned char payload[kSignaturePayloadLength];
  if (buf->takeUnhashed(payload, kSignaturePayloadLength) != kSignaturePayloadLength) return false;
  return checkSignaturePayload(payload, digest, key);
}
