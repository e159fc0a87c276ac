// Arbitrary bytes as a package file, read the way a candidate is loaded and
// the way a package stream is installed, and as a file container: nothing
// may crash, hang or read out of bounds.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "model/package.h"
#include "pkgfile/inflate_stream.h"
#include "pkgfile/package_file.h"
#include "pkgfile/package_header.h"
#include "pkgfile/package_stream.h"
#include "platform/string_bytes.h"

namespace {

const uint32_t kInstallParts[] = {1, 18, 20, 16, 3, 19, 17, 21, 4, 9};
constexpr size_t kSignatureBytes = 68;

void drain(ByteSource& in) {
  char chunk[1024];
  for (int turn = 1; in.read(chunk, sizeof chunk) > 0; ++turn) {
    if (turn % 3 == 0) in.skip(700);
  }
}

void loadAsCandidate(const std::string& bytes) {
  StringSource source(bytes);
  PackageStream stream(&source, true);
  PackageInfo record;
  readPackageFileParts(record, stream);
}

// Walks every part as the installer meets it; each turn consumes at least a
// part header, so the walk ends.
void walkAsInstall(const std::string& bytes) {
  StringSource source(bytes);
  StringSink tee;
  PackageStream stream(&source, true, &tee);
  for (uint32_t type : kInstallParts) stream.acceptPart(type);
  int32_t type = stream.nextPart();
  while (type != kNoPart) {
    if (type == kPackageHeaderPart || type == kBundleHeaderPart) {
      PackageInfo record;
      if (!readPackageHeader(record, stream)) return;
      type = stream.partType();
      continue;
    }
    if (type == kBundleMembersPart) {
      std::vector<Dependency> members;
      readDependencyList(stream, members);
    } else if (type == kFileContainerPart) {
      InflateStream in(stream);
      drain(in);
    } else if (type == kSignaturePart) {
      unsigned char signature[kSignatureBytes];
      stream.streamBuf()->finishHash();
      stream.streamBuf()->takeUnhashed(signature, sizeof signature);
    } else {
      char some[16];
      if (stream.read(some, sizeof some) == sizeof some) stream.skip(3);
    }
    type = stream.nextPart();
  }
}

void inflateDirectly(const std::string& bytes) {
  StringSource source(bytes);
  InflateStream in(source);
  drain(in);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  loadAsCandidate(bytes);
  walkAsInstall(bytes);
  inflateDirectly(bytes);
  return 0;
}
