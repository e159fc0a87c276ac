#include "signing/group_scalar.h"

#include <openssl/bn.h>

using namespace curve25519;

namespace {

// l = 2^252 + 27742317777372353535851937790883648493, little-endian.
constexpr unsigned char kGroupOrder[kScalarBytes] = {
    0xed, 0xd3, 0xf5, 0x5c, 0x1a, 0x63, 0x12, 0x58, 0xd6, 0x9c, 0xf7, 0xa2, 0xde, 0xf9, 0xde, 0x14,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10};

// The library's numbers for one computation, freed together.
class ScalarContext {
 public:
  ScalarContext() : context_(BN_CTX_secure_new()), order_(BN_lebin2bn(kGroupOrder, kScalarBytes, nullptr)) {}
  ~ScalarContext() {
    for (BIGNUM* number : numbers_) BN_clear_free(number);
    BN_free(order_);
    BN_CTX_free(context_);
  }
  ScalarContext(const ScalarContext&) = delete;
  ScalarContext& operator=(const ScalarContext&) = delete;

  bool ready() const { return context_ != nullptr && order_ != nullptr; }
  BN_CTX* context() { return context_; }
  const BIGNUM* order() const { return order_; }

  // A number from little-endian bytes (nullptr bytes: zero), kept secret.
  BIGNUM* number(const unsigned char* bytes, size_t length) {
    if (count_ == kMaxNumbers) return nullptr;
    BIGNUM* made = bytes ? BN_lebin2bn(bytes, static_cast<int>(length), nullptr) : BN_new();
    if (made == nullptr) return nullptr;
    BN_set_flags(made, BN_FLG_CONSTTIME);
    numbers_[count_++] = made;
    return made;
  }

 private:
  static constexpr int kMaxNumbers = 8;
  BN_CTX* context_;
  BIGNUM* order_;
  BIGNUM* numbers_[kMaxNumbers] = {};
  int count_ = 0;
};

bool toScalar(const BIGNUM* n, unsigned char out[kScalarBytes]) {
  return BN_bn2lebinpad(n, out, kScalarBytes) == kScalarBytes;
}

}  // namespace

bool reduceScalar(const unsigned char* bytes, size_t length, unsigned char out[kScalarBytes]) {
  ScalarContext scalars;
  if (!scalars.ready() || length > 64) return false;
  BIGNUM* wide = scalars.number(bytes, length);
  BIGNUM* reduced = scalars.number(nullptr, 0);
  return wide && reduced && BN_nnmod(reduced, wide, scalars.order(), scalars.context()) &&
         toScalar(reduced, out);
}

bool negateScalar(const unsigned char a[kScalarBytes], unsigned char out[kScalarBytes]) {
  ScalarContext scalars;
  if (!scalars.ready()) return false;
  BIGNUM* value = scalars.number(a, kScalarBytes);
  BIGNUM* zero = scalars.number(nullptr, 0);
  BIGNUM* negated = scalars.number(nullptr, 0);
  return value && zero && negated &&
         BN_mod_sub(negated, zero, value, scalars.order(), scalars.context()) &&
         toScalar(negated, out);
}

bool signatureResponse(const unsigned char r[kScalarBytes], const unsigned char k[kScalarBytes],
                       const unsigned char a[kScalarBytes], unsigned char out[kScalarBytes]) {
  ScalarContext scalars;
  if (!scalars.ready()) return false;
  BIGNUM* rValue = scalars.number(r, kScalarBytes);
  BIGNUM* kValue = scalars.number(k, kScalarBytes);
  BIGNUM* aValue = scalars.number(a, kScalarBytes);
  BIGNUM* difference = scalars.number(nullptr, 0);
  BIGNUM* inverse = scalars.number(nullptr, 0);
  BIGNUM* response = scalars.number(nullptr, 0);
  if (!rValue || !kValue || !aValue || !difference || !inverse || !response) return false;
  if (BN_mod_inverse(inverse, aValue, scalars.order(), scalars.context()) == nullptr) return false;
  return BN_mod_sub(difference, rValue, kValue, scalars.order(), scalars.context()) &&
         BN_mod_mul(response, difference, inverse, scalars.order(), scalars.context()) &&
         toScalar(response, out);
}

bool isZeroScalar(const unsigned char a[kScalarBytes]) {
  unsigned char any = 0;
  for (int i = 0; i < kScalarBytes; ++i) any |= a[i];
  return any == 0;
}
