// Reading package files for inspection and verification.
#include "pkgtool/file_report.h"

#include <cerrno>
#include <cstring>

#include "pkgfile/package_file.h"
#include "pkgfile/package_header.h"
#include "pkgfile/package_signature.h"
#include "pkgfile/package_stream.h"
#include "pkgtool/part_writer.h"
#include "pkgtool/report_output.h"
#include "platform/file_source.h"

namespace {

// Everything a package or bundle consists of.
const uint32_t kInspectedParts[] = {
    kBundleHeaderPart, kPackageHeaderPart, kRecord24TextPart, kArchitecturePart, kRecord2TextPart,
    kDescriptionPart,  kDependsPart,       kProvidesPart,     kConflictsPart,    kImagePart,
    kBundleMembersPart, kFileContainerPart, kSignaturePart,
};

std::string partPlace(const PackageStream& stream) {
  return std::string(partTypeName(static_cast<uint32_t>(stream.partType()))) + " part at offset " +
         std::to_string(stream.partOffset() - kPartHeaderSize);
}

// What makes the layout broken, in words; empty when nothing does.
std::string layoutFaultText(const FileLayout& layout) {
  switch (layout.fault) {
    case LayoutFault::None:
      break;
    case LayoutFault::ShortHeader:
      return "shorter than the 8-byte file header";
    case LayoutFault::UnknownMagic:
      return "unknown magic " + hex32(layout.magic);
    case LayoutFault::LengthDisagrees:
      return "file header gives a length of " + std::to_string(layout.lengthField) + " bytes after it, but " +
             std::to_string(layout.size - kFileHeaderSize) + " follow";
    case LayoutFault::PartPastEnd: {
      const PartEntry& part = layout.parts.back();
      return "part at offset " + std::to_string(part.offset) + " (" + partTypeName(part.type) + ", " +
             std::to_string(part.length) + " bytes) runs past the end of the file";
    }
  }
  return std::string();
}

// Reads the layout; false with *error naming the file when it cannot be read.
bool readLayout(FileSystem& fs, const std::string& path, FileLayout* layout, std::string* error) {
  const LayoutRead read = readFileLayout(fs, path, layout);
  if (read == LayoutRead::Read) return true;
  if (read == LayoutRead::NotRegular)
    *error = path + ": not a regular file";
  else
    *error = path + (read == LayoutRead::CannotOpen ? ": cannot open: " : ": cannot read: ") + strerror(errno);
  return false;
}

class Inspection {
 public:
  Inspection(FileReport* report, const PublicKey& key, bool listFiles)
      : report_(report), key_(key), listFiles_(listFiles) {}

  void run(PackageStream& stream);

 private:
  bool readBundle(PackageStream& stream);
  bool readPackage(PackageStream& stream);
  bool readContainer(PackageStream& stream, PackageReport* package);
  void breakWith(const std::string& reason) {
    if (report_->brokenReason.empty()) report_->brokenReason = reason;
  }

  FileReport* report_;
  const PublicKey& key_;
  bool listFiles_;
};

void Inspection::run(PackageStream& stream) {
  for (uint32_t type : kInspectedParts) stream.acceptPart(type);
  stream.nextPart();
  // A bundle header may come first, once.
  if (stream.partType() == kBundleHeaderPart && !readBundle(stream)) return;
  // Then packages, each from its header to its signature.
  while (stream.partType() != kNoPart) {
    if (stream.partType() != kPackageHeaderPart) {
      breakWith("unexpected " + partPlace(stream));
      return;
    }
    if (!readPackage(stream)) return;
  }
  if (report_->packages.empty()) breakWith("no package header");
}

bool Inspection::readBundle(PackageStream& stream) {
  PackageReport bundle;
  bundle.offset = stream.partOffset() - kPartHeaderSize;
  bundle.signature = SignatureVerdict::None;
  if (!readPackageHeader(*bundle.info, stream)) {
    breakWith("unreadable bundle header");
    return false;
  }
  if (stream.partType() == kImagePart) stream.nextPart();
  if (stream.partType() == kBundleMembersPart) {
    std::vector<Dependency> members;
    if (!readDependencyList(stream, members)) {
      breakWith("unreadable bundle member list");
      return false;
    }
    for (const Dependency& member : members) bundle.startDisabled.push_back(member.name);
    stream.nextPart();
  }
  report_->packages.push_back(std::move(bundle));
  return true;
}

bool Inspection::readPackage(PackageStream& stream) {
  PackageReport package;
  package.offset = stream.partOffset() - kPartHeaderSize;
  if (!readPackageHeader(*package.info, stream)) {
    breakWith("unreadable package header at offset " + std::to_string(package.offset));
    return false;
  }
  if (stream.partType() == kImagePart) stream.nextPart();
  if (stream.partType() == kFileContainerPart) {
    if (!readContainer(stream, &package)) return false;
    stream.nextPart();
  }
  if (stream.partType() == kSignaturePart) {
    package.signature = verifySignature(stream, key_) ? SignatureVerdict::Ok : SignatureVerdict::Bad;
    stream.nextPart();
  }
  report_->packages.push_back(std::move(package));
  int32_t next = stream.partType();
  if (next != kNoPart && next != kPackageHeaderPart) {
    breakWith("unexpected " + partPlace(stream));
    return false;
  }
  return true;
}

bool Inspection::readContainer(PackageStream& stream, PackageReport* package) {
  if (!listFiles_) return true;
  FileRecordReader records(stream);
  for (;;) {
    const RecordRead read = records.next();
    if (read == RecordRead::End) return true;
    // A file a board would write is named as the installer takes it, or the
    // installer refuses the whole package as broken.
    if (read == RecordRead::Record) {
      package->files.push_back(records.record());
      if (!hasUnsafeName(records.record())) continue;
    }
    breakWith(package->info->name + ": " + recordFaultText(read, records));
    return false;
  }
}

}  // namespace

const char* verdictName(SignatureVerdict verdict) {
  switch (verdict) {
    case SignatureVerdict::Ok:
      return "ok";
    case SignatureVerdict::Bad:
      return "bad";
    case SignatureVerdict::Missing:
      return "missing";
    case SignatureVerdict::None:
      break;
  }
  return "none";
}

std::string recordFaultText(RecordRead read, const FileRecordReader& records) {
  const std::string where = "file record " + std::to_string(records.number());
  switch (read) {
    case RecordRead::EndInHeader:
      return "file container ends inside the header of " + where;
    case RecordRead::EndInName:
      return "file container ends inside the name of " + where;
    case RecordRead::EndInContent:
      return "file container ends inside the content of " + where + " (" + records.record().name + ")";
    case RecordRead::Record:
    case RecordRead::End:
      break;
  }
  return "the installer refuses the file record name " + quotedName(records.record().name);
}

bool FileReport::allSignaturesHold() const {
  if (packages.empty()) return false;
  for (const PackageReport& package : packages)
    if (package.signature != SignatureVerdict::Ok && package.signature != SignatureVerdict::None) return false;
  return true;
}

bool inspectFile(const std::string& path, const PublicKey& key, bool listFiles, FileReport* report,
                 std::string* error) {
  *report = FileReport();
  report->path = path;
  PosixFileSystem fs;
  // The layout tells a damaged file before anything reads its contents.
  if (!readLayout(fs, path, &report->layout, error)) return false;
  report->brokenReason = layoutFaultText(report->layout);
  const LayoutFault fault = report->layout.fault;
  if (fault == LayoutFault::ShortHeader || fault == LayoutFault::UnknownMagic) return true;
  // Every package, as the installer reads it, with its signature.
  FileSource file(fs, path);
  PackageStream stream(&file, true);
  Inspection(report, key, listFiles).run(stream);
  // Whatever the installer's candidate reader refuses is broken too.
  PackageFile candidate;
  if (report->brokenReason.empty() && !loadPackageFile(fs, candidate, path))
    report->brokenReason = candidate.isBundle && candidate.members.empty() ? "bundle without members"
                                                                             : "the package reader refuses the file";
  return true;
}
