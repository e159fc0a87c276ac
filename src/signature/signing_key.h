// Key material of package signatures: the public key with its sigHash tables,
// the private scalar, the text key files that carry them, and the key this
// installer trusts, built in from a key file when the program is built.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file_system.h"
#include "signature/double_scalar.h"
#include "signature/sig_hash.h"

struct PublicKey {
  unsigned char point[curve25519::kFieldBytes];  // u of K, little-endian, bit 255 clear
  SigHashConstants tables;
};

struct PrivateKey {
  PublicKey publicKey;
  unsigned char scalar[curve25519::kScalarBytes];  // a < l, little-endian; [a]*G is K with the even v
};

// The built-in key (generated from the key file chosen at build time).
extern const unsigned char packageSigningKey[curve25519::kFieldBytes];
extern const uint32_t sigHashInitialState[kSigHashStateWords];
extern const uint32_t sigHashRoundConstants[kSigHashRounds];
const PublicKey& builtInKey();

// Key file text: one field per line, name, one blank, value; empty lines and
// lines starting with "#" are ignored; fields in any order, each once. A
// public key file has public-key, sighash-initial-state and
// sighash-round-constants; a private key file has private-key as well. On
// failure error says which line or field is wrong and how.
bool parsePublicKey(const std::string& text, PublicKey* key, std::string* error);
bool parsePrivateKey(const std::string& text, PrivateKey* key, std::string* error);
bool readPublicKeyFile(FileSystem& fs, const std::string& path, PublicKey* key, std::string* error);
bool readPrivateKeyFile(FileSystem& fs, const std::string& path, PrivateKey* key, std::string* error);

// Key file text, each line of comment written as a "#" line at the top.
std::string formatPublicKey(const PublicKey& key, const std::string& comment);
std::string formatPrivateKey(const PrivateKey& key, const std::string& comment);

// Whether scalar is below the group order l = 2^252 + 27742317777372353535851937790883648493.
bool isBelowGroupOrder(const unsigned char scalar[curve25519::kScalarBytes]);
