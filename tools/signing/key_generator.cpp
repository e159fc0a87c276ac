#include "signing/key_generator.h"

#include <sys/random.h>

#include <cerrno>

#include "platform/file_io.h"
#include "signing/group_scalar.h"

using namespace curve25519;

namespace {

constexpr size_t kWideScalarBytes = 64;  // reduced mod l, so the bias is below 2^-250
constexpr int kMaxScalarTries = 8;

bool isZero(const unsigned char* bytes, size_t count) {
  unsigned char any = 0;
  for (size_t i = 0; i < count; ++i) any |= bytes[i];
  return any == 0;
}

const unsigned char* takeWord(const unsigned char* bytes, uint32_t* word) {
  *word = uint32_t{bytes[0]} | (uint32_t{bytes[1]} << 8) | (uint32_t{bytes[2]} << 16) |
          (uint32_t{bytes[3]} << 24);
  return bytes + 4;
}

}  // namespace

bool randomBytes(unsigned char* out, size_t count) {
  size_t filled = 0;
  while (filled < count) {
    const ssize_t got = retryInterrupted([&] { return getrandom(out + filled, count - filled, 0); });
    if (got < 0) return false;
    filled += static_cast<size_t>(got);
  }
  return true;
}

bool completeKeyPoint(unsigned char scalar[kScalarBytes], unsigned char point[kFieldBytes]) {
  // u of [a]G; the key passed along is the base point, which a ladder
  // with s = 0 never uses.
  const unsigned char zero[kScalarBytes] = {}, one[kScalarBytes] = {1};
  unsigned char base[kFieldBytes] = {9};
  doubleScalarX(zero, scalar, base, point);
  // a = 0, 1 or l - 1 gives infinity or G itself, useless as a key (the
  // verifier's chord through K and G needs u_K != 9).
  if (isZero(point, kFieldBytes)) return false;
  bool isBase = true;
  for (int i = 0; i < kFieldBytes; ++i) isBase = isBase && point[i] == base[i];
  if (isBase) return false;
  // K (even v) + [a]G is infinity exactly when [a]G = -K: then -a is the key.
  unsigned char sum[kFieldBytes];
  doubleScalarX(one, scalar, point, sum);
  if (isZero(sum, kFieldBytes)) return negateScalar(scalar, scalar);
  return true;
}

bool generateKey(PrivateKey* key) {
  // The scalar.
  for (int tries = 0;; ++tries) {
    if (tries == kMaxScalarTries) return false;
    unsigned char wide[kWideScalarBytes];
    if (!randomBytes(wide, sizeof wide)) return false;
    const bool reduced = reduceScalar(wide, sizeof wide, key->scalar);
    for (unsigned char& byte : wide) byte = 0;
    if (!reduced) return false;
    if (completeKeyPoint(key->scalar, key->publicKey.point)) break;
  }
  // The sigHash tables.
  unsigned char words[4 * (kSigHashStateWords + kSigHashRounds)];
  if (!randomBytes(words, sizeof words)) return false;
  const unsigned char* next = words;
  for (uint32_t& word : key->publicKey.tables.initialState) next = takeWord(next, &word);
  for (uint32_t& word : key->publicKey.tables.roundConstants) next = takeWord(next, &word);
  return true;
}
