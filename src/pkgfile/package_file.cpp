#include "pkgfile/package_file.h"

#include <memory>

#include "pkgfile/package_header.h"
#include "platform/file_source.h"

namespace {

// Part types a candidate file is read for, in the order they are added.
const uint32_t kCandidateParts[] = {
    kBundleHeaderPart,  kPackageHeaderPart, kRecord24TextPart, kArchitecturePart, kRecord2TextPart,
    kDescriptionPart,   kDependsPart,       kProvidesPart,     kConflictsPart,    kImagePart,
};

// Each member begins with a package header; its file container and
// signature are not accepted and so are skipped.
bool readBundleMembers(PackageInfo& bundle, PackageStream& stream) {
  if (stream.partType() == kImagePart) stream.nextPart();
  while (stream.partType() == kPackageHeaderPart) {
    std::unique_ptr<PackageInfo> member(new PackageInfo);
    if (!readPackageHeader(*member, stream)) return false;
    bundle.members.push_back(std::move(member));
    if (stream.partType() == kImagePart) stream.nextPart();
  }
  // A bundle needs members. A skipped part that runs off the file ends
  // the members read so far (installing finds the file broken there); a
  // source that fails inside a part breaks the file.
  return !bundle.members.empty() && !stream.isBroken();
}

}  // namespace

bool readPackageFileParts(PackageInfo& record, PackageStream& stream) {
  // Accept what a candidate is read for and go to the first such part.
  for (uint32_t type : kCandidateParts) stream.acceptPart(type);
  stream.nextPart();
  // The package or bundle header with its metadata.
  if (!readPackageHeader(record, stream)) return false;
  // A plain package is done.
  if (!record.isBundle) return true;
  return readBundleMembers(record, stream);
}

bool loadPackageFile(FileSystem& fs, PackageFile& record, const std::string& path) {
  // Only the headers are read here, so hashing is off and a part passed over
  // is one seek: a candidate's signature is checked where it is installed or
  // passed over, by a reader of its own. What is no regular file cannot be
  // read, and must not make the run wait.
  record.path = path;
  FileSource file = FileSource::regularFile(fs, path);
  if (!file.isOpen()) return false;
  PackageStream stream(&file, false);
  // The header's length must agree with the size on disk.
  if (static_cast<uint64_t>(file.sizeAtOpen()) != stream.fileSize()) return false;
  return readPackageFileParts(record, stream);
}
