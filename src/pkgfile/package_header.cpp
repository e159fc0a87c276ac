#include "pkgfile/package_header.h"

#include <algorithm>
#include <cstring>

#include "platform/little_endian.h"

namespace {

// Text parts are read in pieces, so that a string grows only with the bytes
// that really arrive, whatever the part's length field claims.
constexpr size_t kTextChunk = 4096;

const char kDefaultArchitecture[] = "i386";

// The bytes of a NUL-padded 16-byte name field up to the first NUL.
std::string nameField(const unsigned char* field) {
  const void* nul = std::memchr(field, 0, kNameFieldSize);
  size_t length = nul ? static_cast<size_t>(static_cast<const unsigned char*>(nul) - field) : kNameFieldSize;
  return std::string(reinterpret_cast<const char*>(field), length);
}

bool readBytes(PackageStream& stream, unsigned char* out, size_t count) {
  stream.read(reinterpret_cast<char*>(out), count);
  return stream.good();
}

// The whole payload of the current part, byte for byte. A part cut short by
// the end of the file breaks the stream.
bool readText(PackageStream& stream, std::string& text) {
  text.clear();
  uint32_t length = stream.partLength();
  if (uint64_t(stream.partOffset()) + length > stream.fileSize()) {
    stream.markBroken();
    return false;
  }
  char chunk[kTextChunk];
  while (text.size() < length) {
    size_t want = std::min<size_t>(kTextChunk, length - text.size());
    text.append(chunk, stream.read(chunk, want));
    if (!stream.good()) {
      stream.markBroken();
      return false;
    }
  }
  return true;
}

// When the current part has the type, reads its text into the field and
// moves on. False only when the part could not be read.
bool readOptionalText(PackageStream& stream, int32_t type, std::string& field) {
  if (stream.partType() != type) return true;
  if (!readText(stream, field)) return false;
  stream.nextPart();
  return true;
}

bool isMetadataPart(int32_t type) {
  switch (type) {
    case kRecord24TextPart:
    case kArchitecturePart:
    case kRecord2TextPart:
    case kDescriptionPart:
    case kDependsPart:
    case kProvidesPart:
    case kConflictsPart:
      return true;
    default:
      return false;
  }
}

bool readOptionalList(PackageStream& stream, int32_t type, std::vector<Dependency>& list) {
  if (stream.partType() != type) return true;
  if (!readDependencyList(stream, list)) return false;
  stream.nextPart();
  return true;
}

}  // namespace

bool isSafePackageName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (unsigned char c : name)
    if (c < 0x21 || c == 0x7F || c == '/') return false;
  return true;
}

bool readDependencyList(PackageStream& stream, std::vector<Dependency>& list) {
  unsigned char count[kListCountSize];
  if (!readBytes(stream, count, sizeof count)) {
    stream.markBroken();
    return false;
  }
  for (uint16_t i = 0, n = le16(count); i < n; ++i) {
    unsigned char entry[kListEntrySize];
    if (!readBytes(stream, entry, sizeof entry)) {
      stream.markBroken();
      return false;
    }
    Dependency dependency;
    dependency.name = nameField(entry);
    dependency.min = le32(entry + 16);
    dependency.max = le32(entry + 24);
    dependency.priority = static_cast<int32_t>(le32(entry + 28));
    list.push_back(std::move(dependency));
  }
  return true;
}

bool readPackageHeader(PackageInfo& record, PackageStream& stream) {
  // The current part must be a package or bundle header.
  int32_t type = stream.partType();
  if (type != kPackageHeaderPart && type != kBundleHeaderPart) return false;
  record.isBundle = type == kBundleHeaderPart;

  // Name, version and build time; the name will become a path.
  unsigned char payload[kHeaderPayloadSize];
  if (!readBytes(stream, payload, sizeof payload)) {
    stream.markBroken();
    return false;
  }
  std::string name = nameField(payload);
  if (!isSafePackageName(name)) {
    stream.markBroken();
    return false;
  }
  record.name = std::move(name);
  record.version = le32(payload + 16);
  record.buildTime = le32(payload + 20);

  // Flags only when all four bytes are there.
  if (stream.remaining() >= kHeaderFlagsSize) {
    unsigned char flags[kHeaderFlagsSize];
    if (readBytes(stream, flags, sizeof flags)) record.flags = le32(flags);
  }

  // The texts, each optional, in their fixed order.
  stream.nextPart();
  if (!readOptionalText(stream, kRecord24TextPart, record.record24Text)) return false;
  if (stream.partType() == kArchitecturePart) {
    if (!readOptionalText(stream, kArchitecturePart, record.architecture)) return false;
  } else {
    record.architecture = kDefaultArchitecture;
  }
  if (!readOptionalText(stream, kRecord2TextPart, record.record2Text)) return false;
  if (!readOptionalText(stream, kDescriptionPart, record.description)) return false;

  // The lists.
  if (!readOptionalList(stream, kDependsPart, record.depends)) return false;
  if (!readOptionalList(stream, kProvidesPart, record.provides)) return false;
  if (!readOptionalList(stream, kConflictsPart, record.conflicts)) return false;

  // An image part is noted and stays current.
  if (stream.partType() == kImagePart) record.hasImage = true;

  // A metadata part that runs past the end of the file breaks the header. The
  // part after the metadata belongs to the caller: when it runs off, whoever
  // acts on it finds the package broken there.
  return !stream.isBroken() || !isMetadataPart(stream.brokenPartType());
}
