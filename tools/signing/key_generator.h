// Making a new signing key pair: a private scalar from the system's random
// source, its public point, and fresh sigHash tables.
#pragma once

#include <cstddef>

#include "signature/signing_key.h"

// Fills out with bytes from the system's random source; false when it fails.
bool randomBytes(unsigned char* out, size_t count);

// A new key whose public point [a]*G has the even v, as the verifier assumes.
// False when the random source or the arithmetic library fails.
bool generateKey(PrivateKey* key);

// The public point of a (nonzero, below l), and a replaced by l - a when
// [a]*G has the odd v. False for a scalar that cannot be a key (0, 1, l - 1).
bool completeKeyPoint(unsigned char scalar[curve25519::kScalarBytes], unsigned char point[curve25519::kFieldBytes]);
