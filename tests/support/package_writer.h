// Builds package files byte by byte for tests: well-formed ones and the
// malformed kinds a reader must survive (wrong lengths, cut-off files,
// unknown or misplaced parts).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/dependency.h"
#include "model/version.h"

constexpr uint32_t kWriterPackageMagic = 0xBAD0F11E;
constexpr uint32_t kWriterUnregisteredMagic = 0xA1100FFB;

// The 6-byte header of a part, with any length field.
std::string partHeader(uint16_t type, uint32_t length);
// A 32-byte header payload; the name is NUL-padded (or cut) to 16 bytes.
std::string headerPayload(const std::string& name, Version version = 0, uint32_t buildTime = 0);
// A 36-byte header payload ending in the flags word.
std::string headerPayload(const std::string& name, Version version, uint32_t buildTime, uint32_t flags);
// A list payload; count defaults to the number of entries.
std::string listPayload(const std::vector<Dependency>& entries);
std::string listPayload(const std::vector<Dependency>& entries, uint16_t count);
// One file record of a file container, uncompressed.
std::string fileRecord(uint16_t mode, uint8_t processorClass, const std::string& name, const std::string& content);
// A zlib stream (header and Adler-32 trailer) of the data.
std::string zlibCompress(const std::string& data);

class PackageWriter {
 public:
  explicit PackageWriter(uint32_t magic = kWriterPackageMagic) : magic_(magic) {}

  // A part whose length field matches its payload.
  PackageWriter& part(uint16_t type, const std::string& payload);
  // A part with any length field (the payload may be shorter or longer).
  PackageWriter& part(uint16_t type, uint32_t lengthField, const std::string& payload);
  // Bytes appended as they are.
  PackageWriter& raw(const std::string& bytes);
  // Replaces the file header's length field (normally the size less 8).
  PackageWriter& lengthField(uint32_t length);

  // The whole file: header, then everything appended.
  std::string bytes() const;
  bool writeTo(const std::string& path) const;

 private:
  uint32_t magic_;
  bool fixedLength_ = false;
  uint32_t length_ = 0;
  std::string body_;
};
