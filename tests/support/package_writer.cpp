#include "support/package_writer.h"

#include <zlib.h>

#include <fstream>

#include "platform/little_endian.h"

namespace {

void appendLe16(std::string& out, uint16_t value) {
  unsigned char bytes[2];
  putLe16(bytes, value);
  out.append(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

void appendLe32(std::string& out, uint32_t value) {
  unsigned char bytes[4];
  putLe32(bytes, value);
  out.append(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

void appendName(std::string& out, const std::string& name) {
  std::string field = name.substr(0, 16);
  field.resize(16, '\0');
  out += field;
}

}  // namespace

std::string partHeader(uint16_t type, uint32_t length) {
  std::string out;
  appendLe16(out, type);
  appendLe32(out, length);
  return out;
}

std::string headerPayload(const std::string& name, Version version, uint32_t buildTime) {
  std::string out;
  appendName(out, name);
  appendLe32(out, version);
  appendLe32(out, buildTime);
  out.append(8, '\0');  // reserved
  return out;
}

std::string headerPayload(const std::string& name, Version version, uint32_t buildTime, uint32_t flags) {
  std::string out = headerPayload(name, version, buildTime);
  appendLe32(out, flags);
  return out;
}

std::string listPayload(const std::vector<Dependency>& entries) {
  return listPayload(entries, static_cast<uint16_t>(entries.size()));
}

std::string listPayload(const std::vector<Dependency>& entries, uint16_t count) {
  std::string out;
  appendLe16(out, count);
  for (const Dependency& entry : entries) {
    appendName(out, entry.name);
    appendLe32(out, entry.min);
    appendLe32(out, 0);  // reserved
    appendLe32(out, entry.max);
    appendLe32(out, static_cast<uint32_t>(entry.priority));
  }
  return out;
}

std::string fileRecord(uint16_t mode, uint8_t processorClass, const std::string& name, const std::string& content) {
  std::string out;
  appendLe16(out, mode);
  out.append(21, '\0');  // reserved
  out.push_back(static_cast<char>(processorClass));
  appendLe32(out, static_cast<uint32_t>(content.size()));
  appendLe16(out, static_cast<uint16_t>(name.size()));
  out += name;
  out += content;
  return out;
}

std::string zlibCompress(const std::string& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  std::string out(size, '\0');
  if (compress2(reinterpret_cast<Bytef*>(&out[0]), &size, reinterpret_cast<const Bytef*>(data.data()),
                static_cast<uLong>(data.size()), Z_DEFAULT_COMPRESSION) != Z_OK)
    return std::string();
  out.resize(size);
  return out;
}

PackageWriter& PackageWriter::part(uint16_t type, const std::string& payload) {
  return part(type, static_cast<uint32_t>(payload.size()), payload);
}

PackageWriter& PackageWriter::part(uint16_t type, uint32_t lengthField, const std::string& payload) {
  body_ += partHeader(type, lengthField);
  body_ += payload;
  return *this;
}

PackageWriter& PackageWriter::raw(const std::string& bytes) {
  body_ += bytes;
  return *this;
}

PackageWriter& PackageWriter::lengthField(uint32_t length) {
  fixedLength_ = true;
  length_ = length;
  return *this;
}

std::string PackageWriter::bytes() const {
  std::string out;
  appendLe32(out, magic_);
  appendLe32(out, fixedLength_ ? length_ : static_cast<uint32_t>(body_.size()));
  return out + body_;
}

bool PackageWriter::writeTo(const std::string& path) const {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes();
  out.close();
  return !out.fail();
}
