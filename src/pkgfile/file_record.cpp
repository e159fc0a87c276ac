#include "pkgfile/file_record.h"

#include "pkgfile/processor_class.h"
#include "pkgfile/record_name.h"
#include "platform/little_endian.h"

FileRecord decodeFileRecordHeader(const unsigned char header[kFileRecordHeaderSize]) {
  FileRecord record;
  record.mode = le16(header + kRecordModeOffset);
  record.processorClass = header[kRecordClassOffset];
  record.size = le32(header + kRecordSizeOffset);
  record.nameLength = le16(header + kRecordNameLengthOffset);
  return record;
}

bool isInstalledOn(const FileRecord& record, int boardClass) {
  if ((record.mode & kFileTypeMask) != kRegularFileType) return false;
  return record.processorClass == 0 || recordFitsBoard(record.processorClass, boardClass);
}

bool hasUnsafeName(const FileRecord& record) {
  return (record.mode & kFileTypeMask) == kRegularFileType && !isSafeRecordName(record.name);
}

bool readExactly(ByteSource& in, char* out, size_t count) {
  return count == 0 || in.read(out, count) == count;
}
