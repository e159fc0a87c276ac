#include "support/signed_package.h"

#include <gtest/gtest.h>

#include "pkgfile/package_stream.h"
#include "platform/hash.h"
#include "signing/package_signer.h"
#include "support/package_writer.h"

const PrivateKey& developmentSigningKey() {
  static const PrivateKey key = [] {
    PrivateKey read = {};
    std::string error;
    if (!readPrivateKeyFile(INSTALLER_DEVELOPMENT_KEY, &read, &error)) ADD_FAILURE() << error;
    return read;
  }();
  return key;
}

std::string signedPackageParts(const PrivateKey& key, const std::string& parts, const std::string& extra) {
  const std::string header =
      partHeader(kSignaturePart, static_cast<uint32_t>(kSignaturePayloadLength + extra.size()));
  SHA1 hash;
  hash.update(parts.data(), parts.size());
  hash.update(header.data(), header.size());
  unsigned char digest[SHA1::kDigestLength];
  hash.digest(digest);
  unsigned char payload[kSignaturePayloadLength];
  if (!signDigest(key, digest, payload)) return std::string();
  return parts + header + std::string(reinterpret_cast<const char*>(payload), sizeof payload) + extra;
}
