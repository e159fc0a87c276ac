#include "signature/signing_key.h"

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/file_io.h"

using namespace curve25519;

namespace {

enum KeyField { kPublicKeyField, kInitialStateField, kRoundConstantsField, kPrivateKeyField };
constexpr int kKeyFieldCount = 4;
const char* const kKeyFieldNames[kKeyFieldCount] = {
    "public-key", "sighash-initial-state", "sighash-round-constants", "private-key"};

constexpr size_t kMaxKeyFileSize = 16384;  // a key file is a few hundred bytes

// l, little-endian.
constexpr unsigned char kGroupOrder[kScalarBytes] = {
    0xed, 0xd3, 0xf5, 0x5c, 0x1a, 0x63, 0x12, 0x58, 0xd6, 0x9c, 0xf7, 0xa2, 0xde, 0xf9, 0xde, 0x14,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10};

struct KeyFields {
  std::string value[kKeyFieldCount];
  int line[kKeyFieldCount] = {0, 0, 0, 0};  // 0: absent
};

// The lines of a text, without their newlines; a last line may lack one.
std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::string lineError(int line, const std::string& what) {
  return "line " + std::to_string(line) + ": " + what;
}

// Splits the text into its named fields; false on an unknown or repeated name
// or a line that is not "name value".
bool splitFields(const std::string& text, KeyFields* fields, std::string* error) {
  int number = 0;
  for (const std::string& line : splitLines(text)) {
    ++number;
    if (line.empty() || line[0] == '#') continue;
    const size_t blank = line.find(' ');
    if (blank == std::string::npos || blank == 0) {
      *error = lineError(number, "expected a field name, one blank and a value");
      return false;
    }
    const std::string name = line.substr(0, blank);
    int field = 0;
    while (field < kKeyFieldCount && name != kKeyFieldNames[field]) ++field;
    if (field == kKeyFieldCount) {
      *error = lineError(number, "unknown field \"" + name + "\"");
      return false;
    }
    if (fields->line[field] != 0) {
      *error = lineError(number, name + " given a second time (first on line " +
                                     std::to_string(fields->line[field]) + ")");
      return false;
    }
    fields->value[field] = line.substr(blank + 1);
    fields->line[field] = number;
  }
  return true;
}

int hexDigit(char c, bool lowercaseOnly) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (!lowercaseOnly && c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Exactly 2 * count hex digits into count bytes, in order.
bool parseHexBytes(const std::string& text, unsigned char* out, size_t count, bool lowercaseOnly) {
  if (text.size() != 2 * count) return false;
  for (size_t i = 0; i < count; ++i) {
    const int high = hexDigit(text[2 * i], lowercaseOnly);
    const int low = hexDigit(text[2 * i + 1], lowercaseOnly);
    if (high < 0 || low < 0) return false;
    out[i] = static_cast<unsigned char>(high * 16 + low);
  }
  return true;
}

// count words of 8 hex digits separated by single blanks.
bool parseWords(const std::string& text, uint32_t* out, size_t count) {
  if (text.size() != 9 * count - 1) return false;
  for (size_t i = 0; i < count; ++i) {
    if (i > 0 && text[9 * i - 1] != ' ') return false;
    uint32_t word = 0;
    for (size_t j = 0; j < 8; ++j) {
      const int digit = hexDigit(text[9 * i + j], false);
      if (digit < 0) return false;
      word = word * 16 + static_cast<uint32_t>(digit);
    }
    out[i] = word;
  }
  return true;
}

bool isCanonicalU(const unsigned char u[kFieldBytes]) {
  FieldElement f;
  decode(f, u);
  unsigned char again[kFieldBytes];
  encode(again, f);
  for (int i = 0; i < kFieldBytes; ++i)
    if (again[i] != u[i]) return false;
  return true;
}

bool parsePublicFields(const KeyFields& fields, PublicKey* key, std::string* error) {
  for (int field = kPublicKeyField; field <= kRoundConstantsField; ++field) {
    if (fields.line[field] == 0) {
      *error = std::string("missing field ") + kKeyFieldNames[field];
      return false;
    }
  }
  const std::string& point = fields.value[kPublicKeyField];
  if (!parseHexBytes(point, key->point, kFieldBytes, true)) {
    *error = lineError(fields.line[kPublicKeyField], "public-key must be 64 lowercase hex digits");
    return false;
  }
  if ((key->point[kFieldBytes - 1] & 0x80) != 0 || !isCanonicalU(key->point) ||
      !isCurvePoint(key->point)) {
    *error = lineError(fields.line[kPublicKeyField],
                       "public-key is not the u-coordinate of a point of the curve");
    return false;
  }
  if (!parseWords(fields.value[kInitialStateField], key->tables.initialState, kSigHashStateWords)) {
    *error = lineError(fields.line[kInitialStateField],
                       "sighash-initial-state must be 8 words of 8 hex digits, one blank apart");
    return false;
  }
  if (!parseWords(fields.value[kRoundConstantsField], key->tables.roundConstants, kSigHashRounds)) {
    *error = lineError(fields.line[kRoundConstantsField],
                       "sighash-round-constants must be 64 words of 8 hex digits, one blank apart");
    return false;
  }
  return true;
}

// [a]*G must be the key point with the even v: u([a]G) = u_K, and K + [a]G is
// 2K rather than the point at infinity.
bool scalarMatchesKey(const unsigned char scalar[kScalarBytes], const unsigned char point[kFieldBytes]) {
  unsigned char zero[kScalarBytes] = {}, one[kScalarBytes] = {1};
  unsigned char u[kFieldBytes], sum[kFieldBytes];
  doubleScalarX(zero, scalar, point, u);
  doubleScalarX(one, scalar, point, sum);
  bool sumIsZero = true;
  for (int i = 0; i < kFieldBytes; ++i) {
    if (u[i] != point[i]) return false;
    if (sum[i] != 0) sumIsZero = false;
  }
  return !sumIsZero;
}

bool readKeyText(FileSystem& fs, const std::string& path, std::string* text, std::string* error) {
  if (readSmallFile(fs, path, kMaxKeyFileSize, text)) return true;
  const bool opened = errno == EFBIG || errno == EIO || errno == EISDIR || errno == EINVAL;
  *error = path + (opened ? ": not a key file (too large or unreadable)" : ": cannot be opened");
  return false;
}

std::string hexText(const unsigned char* bytes, size_t count) {
  std::string text;
  char digits[3];
  for (size_t i = 0; i < count; ++i) {
    std::snprintf(digits, sizeof digits, "%02x", bytes[i]);
    text += digits;
  }
  return text;
}

std::string wordsText(const uint32_t* words, size_t count) {
  std::string text;
  char digits[9];
  for (size_t i = 0; i < count; ++i) {
    std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(words[i]));
    if (i > 0) text += ' ';
    text += digits;
  }
  return text;
}

std::string commentLines(const std::string& comment) {
  std::string text;
  for (const std::string& line : splitLines(comment)) text += "# " + line + "\n";
  return text;
}

std::string publicFieldLines(const PublicKey& key) {
  return std::string("public-key ") + hexText(key.point, kFieldBytes) + "\n" +
         "sighash-initial-state " + wordsText(key.tables.initialState, kSigHashStateWords) + "\n" +
         "sighash-round-constants " + wordsText(key.tables.roundConstants, kSigHashRounds) + "\n";
}

}  // namespace

const PublicKey& builtInKey() {
  static const PublicKey key = [] {
    PublicKey built;
    for (int i = 0; i < kFieldBytes; ++i) built.point[i] = packageSigningKey[i];
    for (int i = 0; i < kSigHashStateWords; ++i) built.tables.initialState[i] = sigHashInitialState[i];
    for (int i = 0; i < kSigHashRounds; ++i) built.tables.roundConstants[i] = sigHashRoundConstants[i];
    return built;
  }();
  return key;
}

bool isBelowGroupOrder(const unsigned char scalar[kScalarBytes]) {
  for (int i = kScalarBytes - 1; i >= 0; --i) {
    if (scalar[i] != kGroupOrder[i]) return scalar[i] < kGroupOrder[i];
  }
  return false;
}

bool parsePublicKey(const std::string& text, PublicKey* key, std::string* error) {
  KeyFields fields;
  if (!splitFields(text, &fields, error)) return false;
  if (fields.line[kPrivateKeyField] != 0) {
    *error = lineError(fields.line[kPrivateKeyField],
                       "a public key file must not carry the private-key");
    return false;
  }
  return parsePublicFields(fields, key, error);
}

bool parsePrivateKey(const std::string& text, PrivateKey* key, std::string* error) {
  KeyFields fields;
  if (!splitFields(text, &fields, error)) return false;
  if (fields.line[kPrivateKeyField] == 0) {
    *error = "missing field private-key";
    return false;
  }
  if (!parsePublicFields(fields, &key->publicKey, error)) return false;
  const int line = fields.line[kPrivateKeyField];
  if (!parseHexBytes(fields.value[kPrivateKeyField], key->scalar, kScalarBytes, false)) {
    *error = lineError(line, "private-key must be 64 hex digits");
    return false;
  }
  if (!isBelowGroupOrder(key->scalar)) {
    *error = lineError(line, "private-key is not below the group order");
    return false;
  }
  if (!scalarMatchesKey(key->scalar, key->publicKey.point)) {
    *error = lineError(line, "private-key does not belong to the public-key");
    return false;
  }
  return true;
}

bool readPublicKeyFile(FileSystem& fs, const std::string& path, PublicKey* key, std::string* error) {
  std::string text;
  if (!readKeyText(fs, path, &text, error)) return false;
  if (parsePublicKey(text, key, error)) return true;
  *error = path + ": " + *error;
  return false;
}

bool readPrivateKeyFile(FileSystem& fs, const std::string& path, PrivateKey* key, std::string* error) {
  std::string text;
  if (!readKeyText(fs, path, &text, error)) return false;
  if (parsePrivateKey(text, key, error)) return true;
  *error = path + ": " + *error;
  return false;
}

std::string formatPublicKey(const PublicKey& key, const std::string& comment) {
  return commentLines(comment) + publicFieldLines(key);
}

std::string formatPrivateKey(const PrivateKey& key, const std::string& comment) {
  return commentLines(comment) + publicFieldLines(key.publicKey) + "private-key " +
         hexText(key.scalar, kScalarBytes) + "\n";
}
