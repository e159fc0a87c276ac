#include "support/package_writer.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include "pkgfile/package_stream.h"
#include "platform/little_endian.h"
#include "signing/package_signer.h"

static std::string le(uint32_t value, size_t size) {
  unsigned char bytes[4];
  putLe32(bytes, value);
  return std::string(reinterpret_cast<const char*>(bytes), size);
}

static std::string nameField(const std::string& name) { return (name + std::string(16, '\0')).substr(0, 16); }

std::string partHeader(uint16_t type, uint32_t length) { return le(type, 2) + le(length, 4); }

std::string headerPayload(const std::string& name, uint32_t version, uint32_t buildTime, int64_t flags) {
  const std::string payload = nameField(name) + le(version, 4) + le(buildTime, 4) + std::string(8, '\0');
  return flags < 0 ? payload : payload + le(static_cast<uint32_t>(flags), 4);
}

std::string listPayload(const std::vector<Dependency>& entries, int count) {
  std::string out = le(static_cast<uint32_t>(count < 0 ? entries.size() : count), 2);
  for (const Dependency& entry : entries)  // name, min, reserved, max, priority
    out += nameField(entry.name) + le(entry.min, 4) + le(0, 4) + le(entry.max, 4) + le(entry.priority, 4);
  return out;
}

std::string fileRecord(uint16_t mode, uint8_t processorClass, const std::string& name, const std::string& content) {
  return le(mode, 2) + std::string(21, '\0') + static_cast<char>(processorClass) +
         le(static_cast<uint32_t>(content.size()), 4) + le(static_cast<uint32_t>(name.size()), 2) + name + content;
}

std::string zlibCompress(const std::string& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  std::string out(size, '\0');
  compress(reinterpret_cast<Bytef*>(&out[0]), &size, reinterpret_cast<const Bytef*>(data.data()), data.size());
  return out.substr(0, size);
}

std::string incompressibleBytes(size_t size) {
  std::string bytes(size, '\0');
  uint32_t state = 2463534242u;
  for (char& byte : bytes) state ^= state << 13, state ^= state >> 17, state ^= state << 5, byte = char(state);
  return bytes;
}

std::string PackageWriter::bytes() const {
  return le(magic_, 4) + le(fixedLength_ ? length_ : static_cast<uint32_t>(body_.size()), 4) + body_;
}

const PrivateKey& developmentSigningKey() {
  static const PrivateKey key = [] {
    PrivateKey read = {};
    std::string error;
    PosixFileSystem fs;
    if (!readPrivateKeyFile(fs, INSTALLER_DEVELOPMENT_KEY, &read, &error)) ADD_FAILURE() << error;
    return read;
  }();
  return key;
}

std::string signedPackageParts(const PrivateKey& key, const std::string& parts, const std::string& extra) {
  const std::string head = parts + partHeader(kSignaturePart, uint32_t(kSignaturePayloadLength + extra.size()));
  SHA1 hash;
  hash.update(head.data(), head.size());
  unsigned char digest[SHA1::kDigestLength], payload[kSignaturePayloadLength];
  hash.digest(digest);
  if (!signDigest(key, digest, payload)) return std::string();
  return head + std::string(reinterpret_cast<const char*>(payload), sizeof payload) + extra;
}
