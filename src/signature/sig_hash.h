// The signature hash: SHA-256's structure (one 64-byte block, same schedule,
// rounds and padding) with the key's own initial state and round constants.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kSigHashLength = 32;
constexpr size_t kSigHashMaxMessage = 55;  // what fits one block with its padding
constexpr int kSigHashStateWords = 8;
constexpr int kSigHashRounds = 64;

struct SigHashConstants {
  uint32_t initialState[kSigHashStateWords];
  uint32_t roundConstants[kSigHashRounds];
};

// Hashes a message of at most 55 bytes into out; false (out untouched) for a
// longer one.
bool sigHash(const SigHashConstants& constants, const unsigned char* message, size_t length,
             unsigned char out[kSigHashLength]);

// The same with the program's own tables (those of the built-in key).
bool sigHash(const unsigned char* message, size_t length, unsigned char out[kSigHashLength]);
