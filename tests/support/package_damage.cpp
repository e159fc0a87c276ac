#include "support/package_damage.h"

#include <cstdint>
#include <cstdlib>

#include "pkgfile/package_stream.h"
#include "platform/little_endian.h"

namespace {

struct PartAt {
  size_t offset;  // of the part header
  uint16_t type;
  uint64_t end;  // offset after the payload, as its length field says
};

unsigned char* at(std::string* bytes, size_t offset) { return reinterpret_cast<unsigned char*>(&(*bytes)[offset]); }

// The parts whose headers lie inside the file, in order.
std::vector<PartAt> partsOf(std::string* bytes) {
  std::vector<PartAt> parts;
  for (uint64_t offset = kFileHeaderSize; offset + kPartHeaderSize <= bytes->size();) {
    const size_t here = static_cast<size_t>(offset);
    const uint64_t end = offset + kPartHeaderSize + le32(at(bytes, here + 2));
    parts.push_back({here, le16(at(bytes, here)), end});
    offset = end;
  }
  return parts;
}

// A decimal or 0x number within [min, max].
bool readNumber(const std::string& text, int64_t min, int64_t max, int64_t* value) {
  if (text.empty() || text.size() > 12) return false;
  const size_t digits = text[0] == '-' ? 1 : 0;
  const int base = text.compare(digits, 2, "0x") == 0 ? 16 : 10;
  char* end = nullptr;
  const long long parsed = std::strtoll(text.c_str(), &end, base);
  if (*end != '\0' || parsed < min || parsed > max) return false;
  *value = parsed;
  return true;
}

bool setLength(std::string* bytes, size_t fieldOffset, const std::string& value, std::string* error) {
  int64_t length = 0;
  if (value == "fit" && fieldOffset == 4 && bytes->size() >= kFileHeaderSize) {
    length = static_cast<int64_t>(bytes->size() - kFileHeaderSize);
  } else if (!readNumber(value, 0, 0xFFFFFFFFll, &length)) {
    return *error = "a length field takes 0 to 4294967295" + std::string(fieldOffset == 4 ? " or fit" : ""), false;
  }
  if (fieldOffset + 4 > bytes->size()) return *error = "the length field lies past the end of the file", false;
  putLe32(at(bytes, fieldOffset), static_cast<uint32_t>(length));
  return true;
}

bool flip(std::string* bytes, const std::vector<std::string>& knob, std::string* error) {
  const int64_t size = static_cast<int64_t>(bytes->size());
  int64_t offset = 0, mask = 1;
  if (knob.size() < 2 || knob.size() > 3 || !readNumber(knob[1], -size, size - 1, &offset) ||
      (knob.size() == 3 && !readNumber(knob[2], 1, 255, &mask)))
    return *error = "flip OFFSET [MASK]: an offset inside the file and a mask 1 to 255", false;
  (*bytes)[static_cast<size_t>(offset < 0 ? size + offset : offset)] ^= static_cast<char>(mask);
  return true;
}

bool cut(std::string* bytes, const std::vector<std::string>& knob, std::string* error) {
  const int64_t size = static_cast<int64_t>(bytes->size());
  int64_t keep = 0;
  if (knob.size() != 2 || !readNumber(knob[1], -size, size, &keep))
    return *error = "cut SIZE: at most the file's size, or -K for K bytes off the end", false;
  bytes->resize(static_cast<size_t>(keep < 0 ? size + keep : keep));
  return true;
}

bool partLength(std::string* bytes, const std::vector<std::string>& knob, std::string* error) {
  int64_t which = 0;
  if (knob.size() != 3 || !readNumber(knob[1], knob[0] == "part" ? 1 : 0, 0xFFFF, &which))
    return *error = knob[0] == "part" ? "part K N: K counts parts from 1" : "type T N: a part type 0 to 65535", false;
  const std::vector<PartAt> parts = partsOf(bytes);
  for (size_t i = 0; i < parts.size(); ++i) {
    const bool chosen = knob[0] == "part" ? i + 1 == static_cast<size_t>(which) : parts[i].type == which;
    if (chosen) return setLength(bytes, parts[i].offset + 2, knob[2], error);
  }
  return *error = "the file has no such part", false;
}

bool dropSignatures(std::string* bytes, std::string* error) {
  const std::vector<PartAt> parts = partsOf(bytes);
  for (size_t i = parts.size(); i-- > 0;) {
    if (parts[i].type != kSignaturePart) continue;
    const size_t end = parts[i].end < bytes->size() ? static_cast<size_t>(parts[i].end) : bytes->size();
    bytes->erase(parts[i].offset, end - parts[i].offset);
  }
  return setLength(bytes, 4, "fit", error);
}

}  // namespace

bool damagePackage(const std::vector<std::string>& knob, std::string* bytes, std::string* error) {
  const std::string word = knob.empty() ? std::string() : knob[0];
  if (word == "flip") return flip(bytes, knob, error);
  if (word == "cut") return cut(bytes, knob, error);
  if (word == "length" && knob.size() == 2) return setLength(bytes, 4, knob[1], error);
  if (word == "part" || word == "type") return partLength(bytes, knob, error);
  if (word == "unsigned" && knob.size() == 1) return dropSignatures(bytes, error);
  *error = "unknown damage \"" + word + "\" (flip, cut, length, part, type, unsigned, append)";
  return false;
}
