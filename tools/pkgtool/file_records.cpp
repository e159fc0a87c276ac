// Walking the file records of a file container.
#include "pkgtool/file_records.h"

#include "pkgfile/inflate_stream.h"
#include "pkgtool/file_container.h"
#include "platform/little_endian.h"

namespace {

constexpr size_t kNameChunk = 4096;

bool readName(std::istream& in, uint16_t length, std::string* name) {
  name->clear();
  char buffer[kNameChunk];
  for (size_t left = length; left != 0;) {
    size_t want = left < sizeof buffer ? left : sizeof buffer;
    if (!in.read(buffer, static_cast<std::streamsize>(want))) return false;
    name->append(buffer, want);
    left -= want;
  }
  return true;
}

}  // namespace

bool forEachFileRecord(PackageStream& stream, const FileRecordVisitor& visit, std::string* broken) {
  InflateStream in(stream);
  for (uint64_t index = 0;; ++index) {
    // The record header; nothing at all here is the end of the container.
    unsigned char header[kFileRecordHeaderSize];
    in.read(reinterpret_cast<char*>(header), sizeof header);
    if (in.gcount() == 0) return true;
    std::string where = "file record " + std::to_string(index + 1);
    if (in.gcount() != static_cast<std::streamsize>(sizeof header)) {
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
    std::streampos start = in.tellg();
    if (!visit(record, in)) return false;
    // Skip what the visitor left of the content.
    std::streamoff taken = in.tellg() - start;
    if (!in || !in.seekg(static_cast<std::streamoff>(record.size) - taken, std::ios_base::cur)) {
      *broken = "file container ends inside the content of " + where + " (" + record.name + ")";
      return false;
    }
  }
}
