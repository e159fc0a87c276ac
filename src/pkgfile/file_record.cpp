#include "pkgfile/file_record.h"

#include "pkgfile/processor_class.h"
#include "platform/little_endian.h"

namespace {

constexpr size_t kModeOffset = 0;
constexpr size_t kClassOffset = 23;
constexpr size_t kSizeOffset = 24;
constexpr size_t kNameLengthOffset = 28;

constexpr uint32_t kFileTypeMask = 0xF000;
constexpr uint32_t kRegularFileType = 0x8000;

}  // namespace

FileRecord decodeFileRecordHeader(const unsigned char header[kFileRecordHeaderSize]) {
  FileRecord record;
  record.mode = le16(header + kModeOffset);
  record.processorClass = header[kClassOffset];
  record.size = le32(header + kSizeOffset);
  record.nameLength = le16(header + kNameLengthOffset);
  return record;
}

bool isInstalledOn(const FileRecord& record, int boardClass) {
  if ((record.mode & kFileTypeMask) != kRegularFileType) return false;
  return record.processorClass == 0 || recordFitsBoard(record.processorClass, boardClass);
}

bool readExactly(ByteSource& in, char* out, size_t count) {
  return count == 0 || in.read(out, count) == count;
}
