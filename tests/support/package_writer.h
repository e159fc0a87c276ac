// Package files for tests, byte by byte: well-formed, or with the lying lengths, cut parts and unknown parts a reader
// must survive, signed over the bytes the installer hashes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/dependency.h"
#include "signature/signing_key.h"

constexpr uint32_t kWriterPackageMagic = 0xBAD0F11E, kWriterUnregisteredMagic = 0xA1100FFB;
std::string partHeader(uint16_t type, uint32_t length);
// The name NUL-padded (or cut) to 16 bytes, version, build time, 8 reserved bytes,
// and the flags word unless flags is negative.
std::string headerPayload(const std::string& name, uint32_t version = 0, uint32_t buildTime = 0, int64_t flags = -1);
std::string listPayload(const std::vector<Dependency>& entries, int count = -1);  // count: of the entries
std::string fileRecord(uint16_t mode, uint8_t processorClass, const std::string& name, const std::string& content);
std::string zlibCompress(const std::string& data);

class PackageWriter {
 public:
  explicit PackageWriter(uint32_t magic = kWriterPackageMagic) : magic_(magic) {}
  PackageWriter& part(uint16_t type, const std::string& payload) { return part(type, uint32_t(payload.size()), payload); }
  PackageWriter& part(uint16_t type, uint32_t lengthField, const std::string& payload) {  // any length field
    return raw(partHeader(type, lengthField) + payload);
  }
  PackageWriter& raw(const std::string& bytes) { return body_ += bytes, *this; }
  // The file header's length field, instead of the size less 8.
  PackageWriter& lengthField(uint32_t length) { return fixedLength_ = true, length_ = length, *this; }
  std::string bytes() const;

 private:
  uint32_t magic_, length_ = 0;
  bool fixedLength_ = false;
  std::string body_;
};

// The development key pair of keys/, which a default build trusts.
const PrivateKey& developmentSigningKey();
// One package's parts (header part to signature part) and the signature part:
// 68 signature bytes, then extra, which no signature covers.
std::string signedPackageParts(const PrivateKey& key, const std::string& parts, const std::string& extra = "");

std::string incompressibleBytes(size_t size);  // a fixed xorshift sequence
