// Walking the file records of a file container.
#include "pkgtool/file_records.h"

#include "pkgfile/inflate_stream.h"
#include "pkgtool/file_container.h"
#include "platform/little_endian.h"

namespace {

constexpr size_t kNameChunk = 4096;

bool readName(ByteSource& in, uint16_t length, std::string* name) {
  name->clear();
  char buffer[kNameChunk];
  for (size_t left = length; left != 0;) {
    size_t want = left < sizeof buffer ? left : sizeof buffer;
    if (in.read(buffer, want) != want) return false;
    name->append(buffer, want);
    left -= want;
  }
  return true;
}

}  // namespace

bool forEachFileRecord(PackageStream& stream, const FileRecordVisitor& visit, std::string* broken) {
  InflateStream in(*stream.streamBuf());
  for (uint64_t index = 0;; ++index) {
    // The record header; nothing at all here is the end of the container.
    unsigned char header[kFileRecordHeaderSize];
    const size_t got = in.read(reinterpret_cast<char*>(header), sizeof header);
    if (got == 0) return true;
    std::string where = "file record " + std::to_string(index + 1);
    if (got != sizeof header) {
      *broken = "file container ends inside the header of " + where;
      return false;
    }
    FileRecordInfo record;
    record.mode = le16(header);
    record.processorClass = header[23];
    record.size = le32(header + 24);
    // The name, then the content for the visitor.
    if (!readName(in, le16(header + 28), &record.name)) {
      *broken = "file container ends inside the name of " + where;
      return false;
    }
    const uint64_t start = in.position();
    if (!visit(record, in)) return false;
    // Skip what the visitor left of the content.
    const uint64_t taken = in.position() - start;
    if (taken > record.size || !in.skip(record.size - taken)) {
      *broken = "file container ends inside the content of " + where + " (" + record.name + ")";
      return false;
    }
  }
}
