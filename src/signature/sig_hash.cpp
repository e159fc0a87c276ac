#include "signature/sig_hash.h"

#include "signature/signing_key.h"

namespace {

constexpr size_t kBlockBytes = 64;
constexpr int kScheduleWords = 16;

uint32_t rotateRight(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

uint32_t loadBigEndian(const unsigned char* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

void storeBigEndian(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 24);
  p[1] = static_cast<unsigned char>(v >> 16);
  p[2] = static_cast<unsigned char>(v >> 8);
  p[3] = static_cast<unsigned char>(v);
}

// The message, 0x80, zeros, and the bit length as a big-endian 64-bit number.
void padBlock(unsigned char block[kBlockBytes], const unsigned char* message, size_t length) {
  for (size_t i = 0; i < kBlockBytes; ++i) block[i] = 0;
  for (size_t i = 0; i < length; ++i) block[i] = message[i];
  block[length] = 0x80;
  const uint64_t bits = uint64_t{length} * 8;
  for (int i = 0; i < 8; ++i) block[kBlockBytes - 1 - i] = static_cast<unsigned char>(bits >> (8 * i));
}

// One compression of the block into state, the message schedule kept as a
// rolling window of 16 words.
void compress(uint32_t state[kSigHashStateWords], const uint32_t roundConstants[kSigHashRounds],
              const unsigned char block[kBlockBytes]) {
  uint32_t w[kScheduleWords];
  for (int i = 0; i < kScheduleWords; ++i) w[i] = loadBigEndian(block + 4 * i);
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
  for (int round = 0; round < kSigHashRounds; ++round) {
    if (round >= kScheduleWords) {
      const uint32_t w15 = w[(round - 15) & 15], w2 = w[(round - 2) & 15];
      const uint32_t s0 = rotateRight(w15, 7) ^ rotateRight(w15, 18) ^ (w15 >> 3);
      const uint32_t s1 = rotateRight(w2, 17) ^ rotateRight(w2, 19) ^ (w2 >> 10);
      w[round & 15] += s0 + w[(round - 7) & 15] + s1;
    }
    const uint32_t sum1 = rotateRight(e, 6) ^ rotateRight(e, 11) ^ rotateRight(e, 25);
    const uint32_t choice = (e & f) ^ (~e & g);
    const uint32_t t1 = h + sum1 + choice + roundConstants[round] + w[round & 15];
    const uint32_t sum0 = rotateRight(a, 2) ^ rotateRight(a, 13) ^ rotateRight(a, 22);
    const uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
    const uint32_t t2 = sum0 + majority;
    h = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
  state[5] += f;
  state[6] += g;
  state[7] += h;
}

}  // namespace

bool sigHash(const SigHashConstants& constants, const unsigned char* message, size_t length,
             unsigned char out[kSigHashLength]) {
  if (length > kSigHashMaxMessage) return false;
  unsigned char block[kBlockBytes];
  padBlock(block, message, length);
  uint32_t state[kSigHashStateWords];
  for (int i = 0; i < kSigHashStateWords; ++i) state[i] = constants.initialState[i];
  compress(state, constants.roundConstants, block);
  for (int i = 0; i < kSigHashStateWords; ++i) storeBigEndian(out + 4 * i, state[i]);
  return true;
}

bool sigHash(const unsigned char* message, size_t length, unsigned char out[kSigHashLength]) {
  return sigHash(builtInKey().tables, message, length, out);
}
