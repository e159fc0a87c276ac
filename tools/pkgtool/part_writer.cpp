// The byte layout of package files, as the reader takes it apart.
#include "pkgtool/part_writer.h"

#include <cstdio>
#include <cstring>

#include "pkgfile/package_stream.h"
#include "pkgfile/record_name.h"
#include "platform/little_endian.h"

namespace {

constexpr uint64_t kMaxLength = 0xFFFFFFFF;

void putName(const std::string& name, unsigned char* out) {
  memset(out, 0, kNameFieldSize);
  memcpy(out, name.data(), name.size() < kNameFieldSize ? name.size() : kNameFieldSize);
}

}  // namespace

bool checkPackageName(const std::string& name, std::string* error) {
  if (name.empty() || name.size() > kNameFieldSize) {
    *error = "name \"" + name + "\" must be 1 to 16 bytes long";
    return false;
  }
  if (!isSafePackageName(name)) {
    *error = "name \"" + name + "\" is \".\" or \"..\" or holds \"/\", a blank or a control character";
    return false;
  }
  return true;
}

bool checkRecordName(const std::string& name, std::string* error) {
  if (name.find('\n') != std::string::npos) {
    *error = quotedName(name) +
             ": a file name holding a newline cannot be packaged: the package database keeps one name a line";
    return false;
  }
  if (!isSafeRecordName(name)) {
    *error = quotedName(name) + ": not a file name a board writes below /flash";
    return false;
  }
  return true;
}

std::string quotedName(const std::string& name) {
  std::string text = "\"";
  char escaped[8];
  for (unsigned char c : name) {
    if (c == '\n') {
      text += "\\n";
    } else if (c == '\t') {
      text += "\\t";
    } else if (c < 0x20 || c == 0x7F || c == '"' || c == '\\') {
      snprintf(escaped, sizeof escaped, "\\x%02X", c);
      text += escaped;
    } else {
      text += static_cast<char>(c);
    }
  }
  return text + "\"";
}

void encodeHeaderPayload(const HeaderFields& header, unsigned char out[kWrittenHeaderSize]) {
  memset(out, 0, kWrittenHeaderSize);
  putName(header.name, out);
  putLe32(out + 16, header.version);
  putLe32(out + 20, header.buildTime);
  // Bytes 24 to 31 are reserved and stay zero.
  putLe32(out + 32, header.flags);
}

void encodeListEntry(const Dependency& entry, unsigned char out[kListEntrySize]) {
  memset(out, 0, kListEntrySize);
  putName(entry.name, out);
  putLe32(out + 16, entry.min);
  putLe32(out + 24, entry.max);
  putLe32(out + 28, static_cast<uint32_t>(entry.priority));
}

bool PartWriter::writeFileHeader(uint32_t magic, std::string* error) {
  unsigned char header[kFileHeaderSize];
  putLe32(header, magic);
  putLe32(header + 4, 0);
  return out_->write(header, sizeof header, error);
}

bool PartWriter::writePart(uint16_t type, const void* payload, size_t length, std::string* error) {
  if (length > kMaxLength) {
    *error = out_->path() + ": part of type " + std::to_string(type) + " is larger than 4 GiB";
    return false;
  }
  return writePartHeader(type, static_cast<uint32_t>(length), error) && out_->write(payload, length, error);
}

bool PartWriter::writePartHeader(uint16_t type, uint32_t length, std::string* error) {
  unsigned char header[kPartHeaderSize];
  putLe16(header, type);
  putLe32(header + 2, length);
  return out_->write(header, sizeof header, error);
}

bool PartWriter::writeTextPart(uint16_t type, const std::string& text, std::string* error) {
  return writePart(type, text.data(), text.size(), error);
}

bool PartWriter::writeListPart(uint16_t type, const std::vector<Dependency>& entries, std::string* error) {
  if (entries.size() > kMaxListEntries) {
    *error = out_->path() + ": a list holds at most 65535 entries";
    return false;
  }
  std::vector<unsigned char> payload(2 + kListEntrySize * entries.size());
  putLe16(payload.data(), static_cast<uint16_t>(entries.size()));
  for (size_t i = 0; i < entries.size(); ++i) encodeListEntry(entries[i], &payload[2 + kListEntrySize * i]);
  return writePart(type, payload.data(), payload.size(), error);
}

bool PartWriter::writeHeaderParts(uint16_t type, const HeaderFields& header, std::string* error) {
  unsigned char payload[kWrittenHeaderSize];
  encodeHeaderPayload(header, payload);
  if (!writePart(type, payload, sizeof payload, error)) return false;
  if (header.architecture && !writeTextPart(kArchitecturePart, *header.architecture, error)) return false;
  if (header.description && !writeTextPart(kDescriptionPart, *header.description, error)) return false;
  if (!header.depends.empty() && !writeListPart(kDependsPart, header.depends, error)) return false;
  if (!header.provides.empty() && !writeListPart(kProvidesPart, header.provides, error)) return false;
  if (!header.conflicts.empty() && !writeListPart(kConflictsPart, header.conflicts, error)) return false;
  if (header.image && !writePart(kImagePart, nullptr, 0, error)) return false;
  return true;
}

bool PartWriter::beginPart(uint16_t type, std::string* error) {
  openPart_ = out_->size();
  return writePartHeader(type, 0, error);
}

bool PartWriter::endPart(std::string* error) {
  uint64_t length = out_->size() - openPart_ - kPartHeaderSize;
  if (length > kMaxLength) {
    *error = out_->path() + ": file container is larger than 4 GiB";
    return false;
  }
  unsigned char field[4];
  putLe32(field, static_cast<uint32_t>(length));
  return out_->writeAt(openPart_ + 2, field, sizeof field, error);
}

bool PartWriter::finishFile(std::string* error) {
  uint64_t length = out_->size() - kFileHeaderSize;
  // The reader adds the 8 header bytes to the length in 32 bits.
  if (length > kMaxLength - kFileHeaderSize) {
    *error = out_->path() + ": package file would be larger than 4 GiB";
    return false;
  }
  unsigned char field[4];
  putLe32(field, static_cast<uint32_t>(length));
  return out_->writeAt(4, field, sizeof field, error);
}
