// Replacing the signatures of a package file.
#include "pkgtool/package_resigner.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "pkgfile/package_stream.h"

namespace {

class Resigner {
 public:
  Resigner(int in, const std::string& inPath, const DigestSigner& sign, OutputFile* out)
      : in_(in), inPath_(inPath), sign_(sign), writer_(out) {}

  bool copyPart(const PartEntry& part, std::string* error);
  // Ends the package being copied; one without a signature part gets one.
  bool endPackage(std::string* error);
  size_t signedCount() const { return signed_; }

 private:
  bool replaceSignature(const PartEntry& part, std::string* error);

  int in_;
  const std::string& inPath_;
  const DigestSigner& sign_;
  PartWriter writer_;
  bool inPackage_ = false;
  uint64_t packageStart_ = 0;  // offset of its header part in the output
  size_t signed_ = 0;
};

bool Resigner::copyPart(const PartEntry& part, std::string* error) {
  if (part.type == kPackageHeaderPart) {
    if (!endPackage(error)) return false;
    inPackage_ = true;
    packageStart_ = writer_.offset();
  }
  if (part.type == kSignaturePart && inPackage_) return replaceSignature(part, error);
  return writer_.out()->copyFrom(in_, inPath_, part.offset, kPartHeaderSize + uint64_t{part.length}, error);
}

// A longer signature part keeps the bytes after its payload; a shorter one,
// which no installer accepts, becomes 68 bytes long.
bool Resigner::replaceSignature(const PartEntry& part, std::string* error) {
  const uint32_t length = part.length > kSignaturePayloadLength ? part.length : kSignaturePayloadLength;
  if (!writeSignaturePart(&writer_, packageStart_, length, sign_, error)) return false;
  inPackage_ = false;
  ++signed_;
  const uint64_t rest = part.offset + kPartHeaderSize + kSignaturePayloadLength;
  return length == kSignaturePayloadLength ||
         writer_.out()->copyFrom(in_, inPath_, rest, length - kSignaturePayloadLength, error);
}

bool Resigner::endPackage(std::string* error) {
  if (!inPackage_) return true;
  inPackage_ = false;
  ++signed_;
  return writeSignaturePart(&writer_, packageStart_, kSignaturePayloadLength, sign_, error);
}

}  // namespace

bool resignFile(const std::string& inPath, const FileLayout& layout, const DigestSigner& sign,
                const std::string& outPath, size_t* signedCount, std::string* error) {
  int in = open(inPath.c_str(), O_RDONLY);
  if (in < 0) {
    *error = inPath + ": cannot open: " + strerror(errno);
    return false;
  }
  OutputFile out;
  Resigner resigner(in, inPath, sign, &out);
  // The file header as it was; its length field is written again at the end.
  bool ok = out.open(outPath, error) && out.copyFrom(in, inPath, 0, kFileHeaderSize, error);
  for (const PartEntry& part : layout.parts) ok = ok && resigner.copyPart(part, error);
  const uint64_t trailing = layout.size - layout.trailingBytes;
  ok = ok && resigner.endPackage(error) && out.copyFrom(in, inPath, trailing, layout.trailingBytes, error);
  PartWriter writer(&out);
  ok = ok && writer.finishFile(error) && out.commit(error);
  close(in);
  *signedCount = resigner.signedCount();
  return ok;
}
