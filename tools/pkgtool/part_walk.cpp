// Reading the part headers of a package file.
#include "pkgtool/part_walk.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "pkgfile/package_stream.h"
#include "platform/file_io.h"
#include "platform/little_endian.h"

namespace {

struct PartTypeName {
  uint32_t type;
  const char* name;
};

constexpr PartTypeName kPartTypeNames[] = {
    {kPackageHeaderPart, "package header"},   {kBundleHeaderPart, "bundle header"},
    {kRecord24TextPart, "text (24)"},         {kArchitecturePart, "architecture"},
    {kRecord2TextPart, "text (2)"},           {kDescriptionPart, "description"},
    {kDependsPart, "depends list"},           {kProvidesPart, "provides list"},
    {kConflictsPart, "conflicts list"},       {kImagePart, "image"},
    {kBundleMembersPart, "bundle member list"}, {kFileContainerPart, "file container"},
    {kSignaturePart, "signature"},
};

std::string hex32(uint32_t value) {
  char text[16];
  snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

// Reads exactly length bytes at offset; false when fewer are there.
bool readExactly(int fd, uint64_t offset, unsigned char* out, size_t length, std::string* error, bool* failed) {
  size_t done = 0;
  while (done < length) {
    const ssize_t n = readSomeAt(fd, out + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      *error = strerror(errno);
      *failed = true;
      return false;
    }
    if (n == 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// The file header, its magic and its length field.
bool readFileHeader(int fd, FileLayout* layout, std::string* error, bool* failed) {
  unsigned char header[kFileHeaderSize];
  if (!readExactly(fd, 0, header, sizeof header, error, failed)) {
    if (!*failed) layout->broken = "shorter than the 8-byte file header";
    return false;
  }
  layout->hasHeader = true;
  layout->magic = le32(header);
  layout->lengthField = le32(header + 4);
  if (layout->magic != kPackageMagic && layout->magic != kUnregisteredMagic) {
    layout->broken = "unknown magic " + hex32(layout->magic);
    return false;
  }
  if (static_cast<uint64_t>(layout->lengthField) + kFileHeaderSize != layout->size) {
    layout->broken = "file header gives a length of " + std::to_string(layout->lengthField) + " bytes after it, but " +
                     std::to_string(layout->size - kFileHeaderSize) + " follow";
  }
  return true;
}

// The part headers, one after another up to the end of the file.
void readPartHeaders(int fd, FileLayout* layout, std::string* error, bool* failed) {
  uint64_t offset = kFileHeaderSize;
  while (offset < layout->size) {
    if (layout->size - offset < kPartHeaderSize) {
      layout->trailingBytes = layout->size - offset;
      return;
    }
    unsigned char header[kPartHeaderSize];
    if (!readExactly(fd, offset, header, sizeof header, error, failed)) return;
    PartEntry part{offset, le16(header), le32(header + 2)};
    layout->parts.push_back(part);
    uint64_t end = offset + kPartHeaderSize + part.length;
    if (end > layout->size) {
      if (layout->broken.empty())
        layout->broken = "part at offset " + std::to_string(offset) + " (" + partTypeName(part.type) + ", " +
                         std::to_string(part.length) + " bytes) runs past the end of the file";
      return;
    }
    offset = end;
  }
}

}  // namespace

const char* partTypeName(uint32_t type) {
  for (const PartTypeName& entry : kPartTypeNames)
    if (entry.type == type) return entry.name;
  return "unknown";
}

bool walkParts(const std::string& path, FileLayout* layout, std::string* error) {
  *layout = FileLayout();
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
  if (fd < 0) {
    *error = path + ": cannot open: " + strerror(errno);
    return false;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    *error = path + ": not a regular file";
    close(fd);
    return false;
  }
  layout->size = static_cast<uint64_t>(st.st_size);
  bool failed = false;
  std::string readError;
  if (readFileHeader(fd, layout, &readError, &failed)) readPartHeaders(fd, layout, &readError, &failed);
  close(fd);
  if (failed) {
    *error = path + ": cannot read: " + readError;
    return false;
  }
  return true;
}
