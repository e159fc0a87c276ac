// Building a bundle file: the bundle header and its metadata, the image part,
// the list of members that start disabled, then each member's parts copied
// unchanged from its package file, so that its own signature still holds.
#pragma once

#include <string>
#include <vector>

#include "pkgtool/header_fields.h"
#include "signature/signing_key.h"

struct BundleRequest {
  HeaderFields header;                     // header.image: the image part (the default)
  std::vector<std::string> members;        // package files, in bundle order
  std::vector<std::string> startDisabled;  // member names
};

// Why no bundle was made.
enum class BundleFault {
  None,
  MemberBroken,     // a member file is broken or cannot be read
  MemberSignature,  // a member's signature is bad or missing
  Refused,          // the members do not make a bundle (names, a bundle as member)
  Output,           // the bundle could not be written
};

// Every member must be a whole single package whose signature holds under
// memberKey, and none may carry the bundle's name. Writes through a temporary
// file: nothing appears at outPath unless the whole bundle was written.
// *error names the file and the fault; *warnings (when given) get a line for
// each member made for another architecture than the bundle.
BundleFault buildBundle(const BundleRequest& request, const PublicKey& memberKey, const std::string& outPath,
                 std::string* error, std::vector<std::string>* warnings = nullptr);
