// Installing a package's contents: the image part passed over in small steps,
// the file records of the container staged below /flash, the signature
// checked, the database entry and the boot image marker staged.
#include "install/package_contents.h"

#include <limits.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <istream>

#include "staging/transaction.h"
#include "database/package_database.h"
#include "model/relations.h"
#include "pkgfile/inflate_stream.h"
#include "platform/little_endian.h"
#include "pkgfile/package_stream.h"
#include "pkgfile/processor_class.h"
#include "pkgfile/record_name.h"
#include "model/console.h"
#include "pkgfile/package_signature.h"

namespace {

constexpr char kFlashRoot[] = "/flash";
// Files of a disabled package live below /flash/x/<name>.
constexpr char kDisabledRoot[] = "/x/";
// Left for the boot loader after a package that brings the boot image.
constexpr char kUpgradedMarker[] = "/flash/UPGRADED";
// When set (to any value), a boot image package installs no files.
constexpr char kBootImageVariable[] = "bootimage";

// The image part is passed over in steps this large, so that the progress
// bar moves while a large image goes by.
constexpr uint32_t kImageSkipStep = 4096;
// File content goes from the inflating stream to its file through this.
constexpr size_t kCopyChunk = 16384;

// A file record's header, little-endian.
constexpr size_t kRecordHeaderSize = 30;
constexpr size_t kModeOffset = 0;
constexpr size_t kClassOffset = 23;
constexpr size_t kSizeOffset = 24;
constexpr size_t kNameLengthOffset = 28;

constexpr uint32_t kFileTypeMask = 0xF000;
constexpr uint32_t kRegularFileType = 0x8000;

struct FileRecord {
  uint16_t mode = 0;
  uint8_t processorClass = 0;
  uint32_t size = 0;
  uint16_t nameLength = 0;
  std::string name;
};

void decodeRecordHeader(const unsigned char header[kRecordHeaderSize], FileRecord& record) {
  record.mode = le16(header + kModeOffset);
  record.processorClass = header[kClassOffset];
  record.size = le32(header + kSizeOffset);
  record.nameLength = le16(header + kNameLengthOffset);
}

// True when exactly `count` bytes came.
bool readExactly(std::istream& in, char* out, size_t count) {
  if (count == 0) return true;
  in.read(out, static_cast<std::streamsize>(count));
  return static_cast<size_t>(in.gcount()) == count;
}

// Whether the system can make a file at `destination` at all: no component
// longer than NAME_MAX, the whole shorter than PATH_MAX. Otherwise the file
// would be staged and then quietly lost when the commit cannot rename it.
bool pathFitsSystem(const std::string& destination) {
  if (destination.size() >= PATH_MAX) return false;
  size_t start = 0;
  for (;;) {
    const size_t end = destination.find('/', start);
    const size_t length = (end == std::string::npos ? destination.size() : end) - start;
    if (length > NAME_MAX) return false;
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

// The path that `files` records: "/x/<name>" for a disabled package, then the
// record's name with a "/" before it unless it has one.
std::string relativePath(const Package& package, const std::string& name) {
  std::string path;
  if (package.disabled) path = kDisabledRoot + package.name;
  if (name.empty() || name[0] != '/') path += '/';
  return path + name;
}

// Whether a record is installed on this board: regular files only, and only
// those meant for every board or for this board's class. The class is asked
// again for each record that names one.
bool recordWanted(const FileRecord& record) {
  if ((record.mode & kFileTypeMask) != kRegularFileType) return false;
  if (record.processorClass == 0) return true;
  return recordFitsBoard(record.processorClass, boardProcessorClass());
}

// Copies the record's content into `out`. False, reported, when the data
// ends early or the file cannot be written.
bool copyContent(Repository& repository, const Package& package, const FileRecord& record,
                 std::istream& inflating, std::ofstream& out, char* buffer) {
  uint32_t remaining = record.size;
  while (remaining > 0) {
    const size_t chunk = std::min<size_t>(remaining, kCopyChunk);
    if (!readExactly(inflating, buffer, chunk)) {
      reportBrokenPackage(repository, package);
      return false;
    }
    if (!out.write(buffer, static_cast<std::streamsize>(chunk))) {
      reportCreateFailure(repository, package, record.name);
      return false;
    }
    remaining -= static_cast<uint32_t>(chunk);
  }
  return true;
}

// Steps 2.7 to 2.10 of unpacking: stages one wanted record.
bool installRecord(Repository& repository, Package& package, Transaction& transaction,
                   const FileRecord& record, const std::string& root, std::istream& inflating,
                   char* buffer) {
  // A name that would leave the flash root is never written anywhere.
  if (!isSafeRecordName(record.name)) {
    reportBrokenPackage(repository, package);
    return false;
  }
  // 4.
  const std::string relative = relativePath(package, record.name);
  const std::string destination = root + kFlashRoot + relative;
  if (!pathFitsSystem(destination)) {
    errno = ENAMETOOLONG;
    reportCreateFailure(repository, package, record.name);
    return false;
  }
  // 7. The whole mode goes along; the transaction keeps only what chmod takes.
  std::ofstream out = transaction.create(destination, record.size, record.mode);
  if (!out.is_open()) {
    reportCreateFailure(repository, package, record.name);
    return false;
  }
  // 8.
  package.files.insert(relative);
  // 9.
  if (!copyContent(repository, package, record, inflating, out, buffer)) return false;
  // 10.
  out.close();
  if (out.fail()) {
    reportCreateFailure(repository, package, record.name);
    return false;
  }
  return true;
}

// The image part, passed over without reading it into memory. A cut-off image
// leaves the stream failed, and the missing signature part is reported after.
void skipImage(Repository& repository, const Package& package, PackageStream& stream) {
  while (stream.remaining() > 0) {
    showInstallProgress(repository, package, stream);
    const uint32_t step = std::min(stream.remaining(), kImageSkipStep);
    if (!stream.seekg(step, std::ios_base::cur)) return;
  }
}

// The empty marker file. Without it the new boot
// image would go unnoticed, so a marker that cannot be staged fails the
// installation instead of passing in silence.
bool stageUpgradedMarker(Repository& repository, const Package& package, Transaction& transaction,
                         const std::string& root) {
  const std::string marker = root + kUpgradedMarker;
  std::ofstream out = transaction.create(marker, 1, 0);
  if (!out.is_open()) {
    reportCreateFailure(repository, package, kUpgradedMarker);
    return false;
  }
  out.close();
  if (out.fail()) {
    reportCreateFailure(repository, package, kUpgradedMarker);
    return false;
  }
  return true;
}

// The signature part must come now and hold; the stream moves past it. A
// package outside a bundle must then be at the end of its file.
bool checkSignature(Repository& repository, const Package& package, PackageStream& stream) {
  const bool verified = stream.partType() == kSignaturePart && verifySignature(stream);
  if (verified) stream.nextPart();
  if (!verified || (package.bundle.name.empty() && !stream.endedAtFileEnd())) {
    reportBrokenPackage(repository, package);
    return false;
  }
  return true;
}

}  // namespace

bool keptAsBootImage(const Package& package) {
  return (package.flags & BootImage) && std::getenv(kBootImageVariable) != nullptr;
}

bool installContents(Repository& repository, Package& package, Transaction& transaction,
                     PackageStream& stream, const std::string& root) {
  showInstallProgress(repository, package, stream);

  // An unregistered package gets no database entry, so no check either.
  if (!stream.isUnregistered() && !prepareEntry(package, transaction, root)) return false;

  if (stream.partType() == kImagePart) {
    skipImage(repository, package, stream);
    stream.nextPart();
  }

  // A container that is not unpacked is still read past, and so hashed.
  if (stream.partType() == kFileContainerPart) {
    if (!keptAsBootImage(package) && !unpackFiles(repository, package, transaction, stream, root)) return false;
    stream.nextPart();
  }

  if (!checkSignature(repository, package, stream)) return false;

  // The writer reports its own failures.
  if (!stream.isUnregistered() && !writeEntry(package, transaction, root)) return false;

  if ((package.flags & BootImage) && !stageUpgradedMarker(repository, package, transaction, root)) return false;

  // Members of a bundle are reported by the bundle's installer.
  if (package.bundle.name.empty()) {
    setProgressLine(repository, std::string());
    reportInfo(repository, "installed %s%s", package.disabled ? "(disabled) " : "",
               packageTitle(package).c_str());
  }
  return true;
}

bool verifyPassedOver(Repository& repository, const Package& package, PackageStream& stream) {
  if (stream.partType() == kImagePart) stream.nextPart();
  if (stream.partType() == kFileContainerPart) stream.nextPart();
  return checkSignature(repository, package, stream);
}

bool unpackFiles(Repository& repository, Package& package, Transaction& transaction,
                 PackageStream& stream, const std::string& root) {
  // 1. Reads stop at the end of the current part.
  InflateStream inflating(stream.rdbuf());
  char buffer[kCopyChunk];

  // 2.
  for (;;) {
    // 2.1. A skip that ran out of data ends the container.
    if (inflating.fail()) return true;

    // 2.2. The data ending anywhere in a header ends the container.
    unsigned char header[kRecordHeaderSize];
    if (!readExactly(inflating, reinterpret_cast<char*>(header), kRecordHeaderSize)) return true;
    FileRecord record;
    decodeRecordHeader(header, record);

    // 2.3.
    record.name.assign(record.nameLength, '\0');
    if (!readExactly(inflating, &record.name[0], record.nameLength)) {
      reportBrokenPackage(repository, package);
      return false;
    }

    // 2.5.-2.6. Passed over with its content; a cut inside it ends the
    // container at the next turn.
    if (!recordWanted(record)) {
      inflating.seekg(record.size, std::ios_base::cur);
      continue;
    }

    // 2.4., 2.7.-2.10.: paths are built only for records that are installed.
    if (!installRecord(repository, package, transaction, record, root, inflating, buffer)) return false;

    // 2.11.
    showInstallProgress(repository, package, stream);
  }
  // 3. The inflating stream goes with the scope.
}

void showInstallProgress(Repository& repository, const Package& package, PackageStream& stream) {
  std::string label = "installing ";
  if (package.disabled && package.bundle.name.empty()) label += " (disabled) ";
  label += displayName(package);
  // How far into the file the stream has read.
  const std::streamoff position = stream.tellg();
  const uint64_t inPart = position > 0 ? static_cast<uint64_t>(position) : 0;
  showReadProgress(repository, label, uint64_t{stream.partOffset()} + inPart, stream.fileSize());
}
