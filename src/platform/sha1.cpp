#include "platform/hash.h"

#include <openssl/evp.h>

SHA1::SHA1() : context_(EVP_MD_CTX_new()) {
  EVP_DigestInit_ex(static_cast<EVP_MD_CTX*>(context_), EVP_sha1(), nullptr);
}

SHA1::~SHA1() { EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(context_)); }

void SHA1::update(const void* data, size_t length) {
  EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(context_), data, length);
}

void SHA1::digest(unsigned char* out) {
  auto* context = static_cast<EVP_MD_CTX*>(context_);
  unsigned int length = 0;
  EVP_DigestFinal_ex(context, out, &length);
  EVP_DigestInit_ex(context, EVP_sha1(), nullptr);
}
