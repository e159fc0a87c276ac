// Checking the signature part of a package stream: the digest the stream
// has hashed against the part's, and the signature over it (see
// doc/package_format.md for which bytes it covers).
#pragma once

#include "signature/signature_check.h"

class PackageStream;

// Checks the current part, a signature part none of whose payload has been
// read, against the built-in key (or the given one). False when the stream
// does not hash, the part is shorter than 68 bytes, the digest differs from
// the stream's, or the signature does not hold. The stream's hash restarts.
bool verifySignature(PackageStream& stream);
bool verifySignature(PackageStream& stream, const PublicKey& key);
bool verifySignature(PackageStream& stream, const VerificationKey& key);
