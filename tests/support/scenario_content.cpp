#include "support/scenario_content.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "platform/hash.h"
#include "support/packaging_tool.h"
#include "support/scenario_text.h"

namespace {

// Contents are written out as quoted text up to these lengths (text is
// printable ASCII, newlines and tabs), and as one repeated byte from this
// size on.
constexpr size_t kQuotedTextMax = 1024;
constexpr size_t kQuotedMax = 240;
constexpr size_t kRepeatMin = 32;
constexpr size_t kMaxGenerated = 64u << 20;

std::string sha1Hex(const std::string& bytes) {
  SHA1 hash;
  hash.update(bytes.data(), bytes.size());
  unsigned char digest[SHA1::kDigestLength];
  hash.digest(digest);
  std::string hex;
  for (unsigned char byte : digest) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", byte);
    hex += pair;
  }
  return hex;
}

bool parseRepeat(const std::string& inside, ContentSpec* spec, std::string* error) {
  const size_t star = inside.rfind('*');
  std::string byte;
  if (!unescape(inside.substr(0, star), &byte, error)) return false;
  if (byte.size() != 1 || !parseSize(inside.substr(star + 1), &spec->size))
    return *error = "expected {BYTE*COUNT}, not {" + inside + "}", false;
  spec->kind = ContentSpec::Repeat;
  spec->text = byte;
  return true;
}

bool parseDigest(const std::vector<std::string>& words, ContentSpec* spec, std::string* error) {
  if (words.size() != 4 || words[1] != "bytes" || words[2] != "sha1" || words[3].size() != 40 ||
      !parseSize(words[0], &spec->size))
    return *error = "expected {SIZE bytes sha1 HEX}", false;
  spec->kind = ContentSpec::Digest;
  spec->text = words[3];
  return true;
}

}  // namespace

bool parseSize(const std::string& text, size_t* size) {
  uint64_t value = 0;
  size_t i = 0;
  for (; i < text.size() && i < 10 && text[i] >= '0' && text[i] <= '9'; ++i) value = value * 10 + (text[i] - '0');
  const std::string unit = text.substr(i);
  if (i == 0 || (!unit.empty() && unit != "K" && unit != "M")) return false;
  value <<= unit == "K" ? 10 : unit == "M" ? 20 : 0;
  if (value > 0xFFFFFFFFu) return false;  // a size_t of the 32-bit board
  *size = static_cast<size_t>(value);
  return true;
}

bool parseContentGenerator(const std::string& token, ContentSpec* spec, std::string* error) {
  if (token.size() < 2 || token.front() != '{' || token.back() != '}')
    return *error = "expected a content in braces", false;
  const std::string inside = token.substr(1, token.size() - 2);
  const std::vector<std::string> words = splitWords(inside);
  if (words.size() == 2 && words[0] == "random") {
    spec->kind = ContentSpec::Random;
    if (parseSize(words[1], &spec->size)) return true;
  } else if (words.size() == 2 && words[0] == "package") {
    spec->kind = ContentSpec::Package;
    spec->text = words[1];
    return true;
  } else if (words.size() == 4) {
    return parseDigest(words, spec, error);
  } else if (inside.find('*') != std::string::npos) {
    return parseRepeat(inside, spec, error);
  }
  return *error = "unknown content {" + inside + "}", false;
}

bool parseInputContent(const std::string& token, ContentSpec* spec, std::string* error) {
  if (!token.empty() && token.front() == '{' && token.back() == '}') return parseContentGenerator(token, spec, error);
  spec->kind = ContentSpec::Text;
  return unescape(token, &spec->text, error);
}

bool parseExpectedContent(const std::string& token, ContentSpec* spec, std::string* error) {
  if (token.size() >= 2 && token.front() == '"' && token.back() == '"') {
    spec->kind = ContentSpec::Text;
    return unescape(token.substr(1, token.size() - 2), &spec->text, error);
  }
  return parseContentGenerator(token, spec, error);
}

bool contentBytes(const ContentSpec& spec, const PackageBytes& packages, std::string* bytes, std::string* error) {
  if ((spec.kind == ContentSpec::Repeat || spec.kind == ContentSpec::Random) && spec.size > kMaxGenerated)
    return *error = "generated contents are at most 64M", false;
  if (spec.kind == ContentSpec::Text) *bytes = spec.text;
  if (spec.kind == ContentSpec::Repeat) *bytes = std::string(spec.size, spec.text[0]);
  if (spec.kind == ContentSpec::Random) *bytes = incompressibleBytes(spec.size);
  if (spec.kind == ContentSpec::Package) {
    const std::string* built = packages(spec.text);
    if (!built) return *error = "no package " + spec.text + " was built", false;
    *bytes = *built;
  }
  if (spec.kind != ContentSpec::Digest) return true;
  return *error = "a digest names a content but cannot make one", false;
}

bool contentMatches(const ContentSpec& spec, const std::string& bytes, const PackageBytes& packages) {
  if (spec.kind == ContentSpec::Digest) return bytes.size() == spec.size && sha1Hex(bytes) == spec.text;
  if (spec.kind == ContentSpec::Repeat)
    return bytes.size() == spec.size && bytes.find_first_not_of(spec.text[0]) == std::string::npos;
  std::string expected, error;
  return contentBytes(spec, packages, &expected, &error) && expected == bytes;
}

std::string describeContent(const std::string& bytes,
                            const std::vector<std::pair<std::string, const std::string*>>& packages) {
  if (bytes.size() >= kRepeatMin && bytes.find_first_not_of(bytes[0]) == std::string::npos)
    return "{" + escape(bytes.substr(0, 1)) + "*" + std::to_string(bytes.size()) + "}";
  for (const auto& [name, built] : packages)
    if (*built == bytes) return "{package " + name + "}";
  const std::string quoted = "\"" + escape(bytes, true) + "\"";
  const bool text =
      std::all_of(bytes.begin(), bytes.end(), [](char c) { return (c >= 0x20 && c < 0x7F) || c == '\n' || c == '\t'; });
  if (quoted.size() <= (text ? kQuotedTextMax : kQuotedMax)) return quoted;
  return "{" + std::to_string(bytes.size()) + " bytes sha1 " + sha1Hex(bytes) + "}";
}
