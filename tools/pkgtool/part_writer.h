// Writing the byte layout of a package file: the file header, typed
// length-prefixed parts, header payloads and dependency lists, all
// little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "model/dependency.h"
#include "pkgfile/package_header.h"
#include "pkgtool/header_fields.h"
#include "pkgtool/output_file.h"

// Header payloads are always written with their flags.
constexpr size_t kWrittenHeaderSize = kHeaderPayloadSize + kHeaderFlagsSize;
constexpr size_t kMaxListEntries = 0xFFFF;

// A package or dependency name the reader takes: 1 to 16 bytes, not "." or
// "..", without "/", control bytes, blanks or DEL. *error says what is wrong.
bool checkPackageName(const std::string& name, std::string* error);
// A file record name the board writes (isSafeRecordName) and its package
// database keeps, one name a line: so without a newline either.
bool checkRecordName(const std::string& name, std::string* error);
// The name in double quotes, control bytes written as \n, \t or \xHH.
std::string quotedName(const std::string& name);

class PartWriter {
 public:
  explicit PartWriter(OutputFile* out) : out_(out) {}

  // The 8-byte file header; its length field is filled in by finishFile().
  bool writeFileHeader(uint32_t magic, std::string* error);
  bool writePart(uint16_t type, const void* payload, size_t length, std::string* error);
  // Only the 6-byte header of a part whose payload follows separately.
  bool writePartHeader(uint16_t type, uint32_t length, std::string* error);
  bool writeTextPart(uint16_t type, const std::string& text, std::string* error);
  bool writeListPart(uint16_t type, const std::vector<Dependency>& entries, std::string* error);
  // The header part (type 1 or 18) and the metadata parts after it, in the
  // order the reader takes them: 16, 23, 3, 19, 17, then the image part 21.
  bool writeHeaderParts(uint16_t type, const HeaderFields& header, std::string* error);

  // A part whose length is known only after its payload: beginPart writes
  // the part header with length 0, endPart patches it from the bytes written.
  bool beginPart(uint16_t type, std::string* error);
  bool endPart(std::string* error);

  // Patches the file header's length field; false when the file outgrew it.
  bool finishFile(std::string* error);

  OutputFile* out() { return out_; }
  uint64_t offset() const { return out_->size(); }

 private:
  OutputFile* out_;
  uint64_t openPart_ = 0;  // offset of the part header that beginPart wrote
};

// The 36-byte header payload.
void encodeHeaderPayload(const HeaderFields& header, unsigned char out[kWrittenHeaderSize]);
// One 32-byte list entry.
void encodeListEntry(const Dependency& entry, unsigned char out[kListEntrySize]);
