// Scalars modulo the group order l of the signature curve's base point, for
// the signing side: reduction of hash output, negation, and the response.
#pragma once

#include <cstddef>

#include "signature/double_scalar.h"

// bytes (little-endian, any length up to 64) mod l into out; false on a
// library failure.
bool reduceScalar(const unsigned char* bytes, size_t length, unsigned char out[curve25519::kScalarBytes]);
// l - a (0 for 0).
bool negateScalar(const unsigned char a[curve25519::kScalarBytes], unsigned char out[curve25519::kScalarBytes]);
// (r - k) * a^-1 mod l; false when a has no inverse (a = 0 mod l).
bool signatureResponse(const unsigned char r[curve25519::kScalarBytes], const unsigned char k[curve25519::kScalarBytes],
                       const unsigned char a[curve25519::kScalarBytes], unsigned char out[curve25519::kScalarBytes]);
bool isZeroScalar(const unsigned char a[curve25519::kScalarBytes]);
