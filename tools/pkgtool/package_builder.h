// Building a signed package file from a directory tree: header and metadata
// parts, the file container streamed from the tree, and the signature over
// exactly the bytes the reader hashes.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "pkgtool/header_fields.h"
#include "pkgtool/output_file.h"
#include "pkgtool/part_writer.h"
#include "signature/signature_check.h"

// Turns the SHA-1 digest of a package into its 68-byte signature payload.
using DigestSigner = std::function<bool(const unsigned char digest[kSignatureDigestLength],
                                        unsigned char payload[kSignaturePayloadLength], std::string* error)>;

// Signs with a private key; the nonce is derived, so signing is repeatable.
DigestSigner keySigner(const PrivateKey& key);

struct BuildRequest {
  HeaderFields header;
  bool unregistered = false;                 // the second magic
  std::optional<std::string> root;           // absent: an empty file container
  std::map<std::string, uint8_t> classes;    // record path -> processor class
};

// Writes the package file to outPath through a temporary file; nothing
// appears at outPath unless the whole file was written. *error names the
// file and what is wrong. *warnings (when given) get a line for each empty
// directory of the tree and for an earlier output found inside it, which is
// left out.
bool buildPackage(const BuildRequest& request, const DigestSigner& sign, const std::string& outPath,
                  std::string* error, std::vector<std::string>* warnings = nullptr);

// The signature part of the package whose header part begins at signedFrom:
// its header, giving length (at least 68), then the 68 bytes of payload
// signed over every byte from signedFrom to the end of that header. The
// caller writes whatever of length follows the payload.
bool writeSignaturePart(PartWriter* writer, uint64_t signedFrom, uint32_t length, const DigestSigner& sign,
                        std::string* error);

// The SHA-1 digest of bytes [from, end) of a file being written.
bool digestOfRange(OutputFile& out, uint64_t from, unsigned char digest[kSignatureDigestLength],
                   std::string* error);
