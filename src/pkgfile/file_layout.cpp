#include "pkgfile/file_layout.h"

#include <cerrno>

#include "pkgfile/package_stream.h"
#include "platform/file_source.h"
#include "platform/little_endian.h"

namespace {

// The file header, its magic and its length field; false when no part
// header can be trusted after it.
bool readFileHeader(ByteSource& file, FileLayout* layout) {
  unsigned char header[kFileHeaderSize];
  if (file.read(reinterpret_cast<char*>(header), sizeof header) != sizeof header) {
    layout->fault = LayoutFault::ShortHeader;
    return false;
  }
  layout->magic = le32(header);
  layout->lengthField = le32(header + 4);
  if (layout->magic != kPackageMagic && layout->magic != kUnregisteredMagic) {
    layout->fault = LayoutFault::UnknownMagic;
    return false;
  }
  if (uint64_t{layout->lengthField} + kFileHeaderSize != layout->size) layout->fault = LayoutFault::LengthDisagrees;
  return true;
}

// The part headers, one after another up to the end of the file; the
// payloads are passed over unread.
void readPartHeaders(ByteSource& file, FileLayout* layout) {
  for (uint64_t offset = kFileHeaderSize; offset < layout->size;) {
    if (layout->size - offset < kPartHeaderSize) {
      layout->trailingBytes = layout->size - offset;
      return;
    }
    unsigned char header[kPartHeaderSize];
    if (file.read(reinterpret_cast<char*>(header), sizeof header) != sizeof header) return;
    const PartEntry part{offset, le16(header), le32(header + 2)};
    layout->parts.push_back(part);
    offset += kPartHeaderSize + uint64_t{part.length};
    if (offset > layout->size) {
      if (layout->fault == LayoutFault::None) layout->fault = LayoutFault::PartPastEnd;
      return;
    }
    if (!file.skip(part.length)) return;
  }
}

}  // namespace

LayoutRead readFileLayout(FileSystem& fs, const std::string& path, FileLayout* layout) {
  *layout = FileLayout();
  FileSource file = FileSource::regularFile(fs, path);
  if (!file.isOpen()) return errno == EISDIR || errno == EINVAL ? LayoutRead::NotRegular : LayoutRead::CannotOpen;
  layout->size = static_cast<uint64_t>(file.sizeAtOpen());
  if (readFileHeader(file, layout)) readPartHeaders(file, layout);
  return file.readFailed() ? LayoutRead::CannotRead : LayoutRead::Read;
}
