// Signed packages for tests: a package's parts followed by the signature part
// that the signing tool would make, over exactly the bytes the installer hashes.
#pragma once

#include <string>

#include "signature/signing_key.h"

// The development key pair shipped in keys/ (what a default build trusts).
const PrivateKey& developmentSigningKey();

// parts: one package's parts, from its header part (type 1) up to its
// signature part. Returns them followed by the signature part, whose payload
// is the 68 signature bytes and then extra, bytes that no signature covers.
std::string signedPackageParts(const PrivateKey& key, const std::string& parts,
                               const std::string& extra = std::string());
