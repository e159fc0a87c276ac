// The file container part: file records (mode, class, size, name, content)
// deflated with zlib straight into the output, one fixed chunk at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <zlib.h>

#include "pkgfile/file_record.h"
#include "pkgtool/part_writer.h"

constexpr uint32_t kPermissionBits = 07777;

class ContainerWriter {
 public:
  static constexpr size_t kCopyChunk = 16384;     // file content read at once
  static constexpr size_t kDeflateChunk = 16384;  // compressed bytes written at once

  explicit ContainerWriter(PartWriter* writer) : writer_(writer) {}
  ~ContainerWriter();
  ContainerWriter(const ContainerWriter&) = delete;
  ContainerWriter& operator=(const ContainerWriter&) = delete;

  // Writes the part header (type 4) and starts the zlib stream.
  bool begin(std::string* error);
  // Appends the record of one regular file: its permission bits, class and
  // the content read from sourcePath, which must still have expectedSize
  // bytes. name is the path the record carries.
  bool addFile(const std::string& sourcePath, const std::string& name, uint32_t mode, uint8_t processorClass,
               uint64_t expectedSize, std::string* error);
  // Ends the zlib stream and patches the part's length.
  bool finish(std::string* error);

 private:
  bool deflateBytes(const void* data, size_t length, int flush, std::string* error);
  bool copyContent(int fd, const std::string& sourcePath, uint64_t size, std::string* error);

  PartWriter* writer_;
  z_stream zstream_{};
  bool started_ = false;
};

// The 30-byte record header.
void encodeRecordHeader(uint32_t mode, uint8_t processorClass, uint32_t size, uint16_t nameLength,
                        unsigned char out[kFileRecordHeaderSize]);
