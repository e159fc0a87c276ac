#include "platform/hash.h"

// The plain SHA-1 calls, which OpenSSL 3 marks deprecated in favour of its
// EVP layer. They are kept on purpose: EVP pulls the library's whole default
// provider into a static program, about 3 MB of a board's small flash, for
// the one digest the installer needs.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

namespace {

SHA_CTX* contextOf(void* context) { return static_cast<SHA_CTX*>(context); }

}  // namespace

SHA1::SHA1() : context_(new SHA_CTX) { SHA1_Init(contextOf(context_)); }

SHA1::~SHA1() { delete contextOf(context_); }

void SHA1::update(const void* data, size_t length) { SHA1_Update(contextOf(context_), data, length); }

void SHA1::digest(unsigned char* out) {
  SHA1_Final(out, contextOf(context_));
  SHA1_Init(contextOf(context_));
}
