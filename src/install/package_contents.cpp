// Installing a package's contents: the image part passed over in small steps,
// the file records of the container staged below /flash, the signature
// checked, the database entry and the boot image marker staged.
#include "install/package_contents.h"

#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "database/package_database.h"
#include "model/relations.h"
#include "pkgfile/file_record_reader.h"
#include "pkgfile/package_signature.h"
#include "pkgfile/package_stream.h"
#include "pkgfile/processor_class.h"
#include "platform/file_io.h"

namespace {

// When set (to any value), a boot image package installs no files.
constexpr char kBootImageVariable[] = "bootimage";

// The image part is passed over in steps this large, so that the progress
// bar moves while a large image goes by.
constexpr uint32_t kImageSkipStep = 4096;
// File content goes from the inflating stream to its file through this.
constexpr size_t kCopyChunk = 65536;

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
  if (package.disabled) path = kDisabledDir + package.name;
  if (name.empty() || name[0] != '/') path += '/';
  return path + name;
}

// Whether this board installs the record. The class of the board is asked
// again for each record that names one.
bool wanted(const FileRecord& record) {
  return isInstalledOn(record, record.processorClass == 0 ? kNoProcessorClass : boardProcessorClass());
}

// Copies the record's content into the file `out`, straight from the
// inflated data where a chunk lies there whole. False, reported, when the
// data ends early or the file cannot be written.
bool copyContent(FileSystem& fs, Console& console, const Package& package, const FileRecord& record,
                 FileRecordReader& content, int out) {
  char buffer[kCopyChunk];
  for (uint32_t remaining = record.size; remaining > 0;) {
    const size_t chunk = std::min<size_t>(remaining, kCopyChunk);
    const char* bytes = content.takeContent(chunk);
    if (bytes == nullptr) {
      if (!readExactly(content, buffer, chunk)) {
        console.reportBrokenPackage(package);
        return false;
      }
      bytes = buffer;
    }
    if (!fs.write(out, bytes, chunk)) {
      console.reportCreateFailure(package, record.name, errno);
      return false;
    }
    remaining -= static_cast<uint32_t>(chunk);
  }
  return true;
}

// The transaction names the file just staged from here on; the package keeps
// its number in sorted runs. A new creation has the next number, which
// lengthens the last run; a file staged before (by this package or another)
// keeps its old one.
void noteStagedFile(Package& package, const Transaction& transaction) {
  auto& runs = package.stagedFiles;
  const uint32_t id = transaction.lastCreation();
  package.stagedGeneration = transaction.generation();
  if (!runs.empty() && runs.back().second + 1 == id) {
    runs.back().second = id;
    return;
  }
  const auto after = runAfter(runs, id);
  if (after != runs.begin() && id <= std::prev(after)->second) return;
  runs.insert(after, std::make_pair(id, id));
}

// Stages one wanted record.
bool installRecord(InstallRun& run, Package& package, const FileRecord& record, FileRecordReader& content) {
  // A name that would leave the flash root is never written anywhere.
  if (hasUnsafeName(record)) {
    run.console.reportBrokenPackage(package);
    return false;
  }
  const std::string relative = relativePath(package, record.name);
  const std::string destination = run.board().installedFile(relative);
  if (!pathFitsSystem(destination)) {
    run.console.reportCreateFailure(package, record.name, ENAMETOOLONG);
    return false;
  }
  // The whole mode goes along; the transaction keeps only what chmod takes.
  const int out = run.transaction.create(destination, record.size, record.mode);
  if (out < 0) {
    run.console.reportCreateFailure(package, record.name, errno);
    return false;
  }
  noteStagedFile(package, run.transaction);
  FileSystem& fs = run.board().fs();
  if (!copyContent(fs, run.console, package, record, content, out)) {
    fs.close(out);
    return false;
  }
  if (!fs.close(out)) {
    run.console.reportCreateFailure(package, record.name, errno);
    return false;
  }
  run.transaction.noteWritten(destination, record.size);
  return true;
}

// The image part, passed over without reading it into memory. A cut-off image
// leaves the stream failed, and the missing signature part is reported after.
void skipImage(Console& console, const Package& package, PackageStream& stream) {
  while (stream.remaining() > 0) {
    showInstallProgress(console, package, stream);
    const uint32_t step = std::min(stream.remaining(), kImageSkipStep);
    if (!stream.skip(step)) return;
  }
}

// The empty marker file. Without it the new boot image would go unnoticed, so
// a marker that cannot be staged fails the installation instead of passing
// in silence.
bool stageUpgradedMarker(InstallRun& run, const Package& package) {
  const int out = run.transaction.create(run.board().at(kUpgradedMarker), 1, 0);
  if (out >= 0 && run.board().fs().close(out)) return true;
  run.console.reportCreateFailure(package, kUpgradedMarker, errno);
  return false;
}

// The signature part must come now and hold; the stream moves past it. A
// package outside a bundle must then be at the end of its file.
bool checkSignature(Console& console, const Package& package, PackageStream& stream) {
  const bool verified = stream.partType() == kSignaturePart && verifySignature(stream);
  if (verified) stream.nextPart();
  if (!verified || (package.bundle.name.empty() && !stream.endedAtFileEnd())) {
    console.reportBrokenPackage(package);
    return false;
  }
  return true;
}

// The database entry, once the signature holds; an unregistered package gets
// none.
bool recordEntry(InstallRun& run, const Package& package, const PackageStream& stream) {
  if (stream.isUnregistered()) return true;
  EntryFailure failure;
  if (writeEntry(package, run.transaction, &failure)) return true;
  run.console.reportCreateFailure(package, failure.file, failure.error);
  return false;
}

}  // namespace

bool keptAsBootImage(const Package& package) {
  return hasFlag(package.flags, PackageFlag::BootImage) && std::getenv(kBootImageVariable) != nullptr;
}

bool installContents(InstallRun& run, Package& package, PackageStream& stream) {
  showInstallProgress(run.console, package, stream);

  // An unregistered package gets no database entry, so no check either. An
  // entry that cannot be a directory fails the package like a file that
  // cannot be created, never in silence.
  if (!stream.isUnregistered() && !prepareEntry(package, run.transaction)) {
    run.console.reportCreateFailure(package, "var/pdb/" + package.name, ENOTDIR);
    return false;
  }

  if (stream.partType() == kImagePart) {
    skipImage(run.console, package, stream);
    stream.nextPart();
  }

  // A container that is not unpacked is still read past, and so hashed.
  if (stream.partType() == kFileContainerPart) {
    if (!keptAsBootImage(package) && !unpackFiles(run, package, stream)) return false;
    stream.nextPart();
  }

  if (!checkSignature(run.console, package, stream) || !recordEntry(run, package, stream)) return false;
  if (hasFlag(package.flags, PackageFlag::BootImage) && !stageUpgradedMarker(run, package)) return false;

  // Members of a bundle are reported by the bundle's installer.
  if (package.bundle.name.empty()) {
    run.console.setProgressLine(std::string());
    run.console.reportInfo("installed %s%s", package.disabled ? "(disabled) " : "",
               packageTitle(package).c_str());
  }
  return true;
}

bool verifyPassedOver(Console& console, const Package& package, PackageStream& stream) {
  if (stream.partType() == kImagePart) stream.nextPart();
  if (stream.partType() == kFileContainerPart) stream.nextPart();
  return checkSignature(console, package, stream);
}

bool unpackFiles(InstallRun& run, Package& package, PackageStream& stream) {
  FileRecordReader records(stream);
  // The bar moves only as the stream is read, a slot of many records at a time.
  uint32_t shown = stream.position();
  for (;;) {
    // Data that ends in a name is a broken package; anywhere else (a record
    // header, a record passed over) it ends the container.
    const RecordRead read = records.next();
    if (read == RecordRead::EndInName) {
      run.console.reportBrokenPackage(package);
      return false;
    }
    if (read != RecordRead::Record) return true;
    // A record not for this board is passed over with its content.
    if (!wanted(records.record())) continue;
    if (!installRecord(run, package, records.record(), records)) return false;
    if (stream.position() == shown) continue;
    shown = stream.position();
    showInstallProgress(run.console, package, stream);
  }
}

void showInstallProgress(Console& console, const Package& package, PackageStream& stream) {
  std::string label = "installing ";
  if (package.disabled && package.bundle.name.empty()) label += " (disabled) ";
  label += displayName(package);
  // How far into the file the stream has read.
  console.showReadProgress(label, uint64_t{stream.partOffset()} + stream.position(), stream.fileSize());
}
