// Signing a package: the 68 bytes of its signature part, made from the SHA-1
// digest of the package's bytes with a private key.
#pragma once

#include "signature/signature_check.h"

// Writes digest, challenge and response into payload. The nonce comes from
// the private key and the digest, so the same digest always gives the same
// bytes. False when the arithmetic library fails or the result would not
// verify under the key's public half (a damaged key).
bool signDigest(const PrivateKey& key, const unsigned char digest[kSignatureDigestLength],
                unsigned char payload[kSignaturePayloadLength]);
