// Reading package files for inspection and verification.
#include "pkgtool/file_report.h"

#include "pkgfile/package_file.h"
#include "pkgfile/package_header.h"
#include "pkgfile/package_signature.h"
#include "pkgfile/package_stream.h"
#include "pkgfile/record_name.h"
#include "pkgtool/file_container.h"
#include "pkgtool/part_writer.h"
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
    if (report_->layout.broken.empty()) report_->layout.broken = reason;
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
  std::string broken;
  // A file a board would write is named as the installer takes it, or the
  // installer refuses the whole package as broken.
  auto collect = [package, &broken](const FileRecordInfo& record, ByteSource&) {
    package->files.push_back(record);
    if ((record.mode & 0xF000) != kRegularFileType || isSafeRecordName(record.name)) return true;
    broken = "the installer refuses the file record name " + quotedName(record.name);
    return false;
  };
  if (!forEachFileRecord(stream, collect, &broken)) {
    breakWith(package->info->name + ": " + broken);
    return false;
  }
  return true;
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
  // The layout tells a damaged file before anything reads its contents.
  if (!walkParts(path, &report->layout, error)) return false;
  if (!report->layout.hasHeader || (report->layout.magic != kPackageMagic && report->layout.magic != kUnregisteredMagic))
    return true;
  // Every package, as the installer reads it, with its signature.
  PosixFileSystem fs;
  FileSource file(fs, path);
  PackageStream stream(&file, true);
  Inspection(report, key, listFiles).run(stream);
  // Whatever the installer's candidate reader refuses is broken too.
  PackageFile candidate;
  if (report->layout.broken.empty() && !loadPackageFile(fs, candidate, path))
    report->layout.broken = candidate.isBundle && candidate.members.empty() ? "bundle without members"
                                                                             : "the package reader refuses the file";
  return true;
}
