// Building signed package files.
#include "pkgtool/package_builder.h"

#include <sys/stat.h>

#include <vector>

#include "pkgfile/package_stream.h"
#include "pkgtool/file_container.h"
#include "pkgtool/output_file.h"
#include "pkgtool/part_writer.h"
#include "pkgtool/tree_walk.h"
#include "platform/hash.h"
#include "signing/package_signer.h"

namespace {

constexpr size_t kHashChunk = 16384;

// An output that lies inside the tree would otherwise pack the previous
// build's file.
void leaveOutOutput(const std::string& outPath, std::vector<TreeFile>* files, std::vector<std::string>* warnings) {
  struct stat st;
  if (stat(outPath.c_str(), &st) != 0) return;
  for (auto file = files->begin(); file != files->end(); ++file) {
    if (file->device != static_cast<uint64_t>(st.st_dev) || file->inode != static_cast<uint64_t>(st.st_ino)) continue;
    warnings->push_back(file->path + " is the output; it is left out of the package");
    files->erase(file);
    return;
  }
}

// The files of the tree, each --class naming one of them.
bool collectFiles(const BuildRequest& request, const std::string& outPath, std::vector<TreeFile>* files,
                  std::vector<std::string>* warnings, std::string* error) {
  std::vector<std::string> emptyDirectories;
  if (request.root && !walkTree(*request.root, files, error, &emptyDirectories)) return false;
  for (const std::string& directory : emptyDirectories)
    warnings->push_back("empty directory " + directory + " is not packaged");
  leaveOutOutput(outPath, files, warnings);
  for (const TreeFile& file : *files)
    if (!checkRecordName(file.path, error)) return false;
  for (const auto& entry : request.classes) {
    bool found = false;
    for (const TreeFile& file : *files) found = found || file.path == entry.first;
    if (!found) {
      *error = "--class " + entry.first + ": no such file in the tree";
      return false;
    }
  }
  return true;
}

// The file container, one record per file in path order.
bool writeContainer(const BuildRequest& request, const std::vector<TreeFile>& files, PartWriter* writer,
                    std::string* error) {
  ContainerWriter container(writer);
  if (!container.begin(error)) return false;
  for (const TreeFile& file : files) {
    auto found = request.classes.find(file.path);
    uint8_t processorClass = found == request.classes.end() ? 0 : found->second;
    if (!container.addFile(*request.root + "/" + file.path, file.path, file.mode, processorClass, file.size, error))
      return false;
  }
  return container.finish(error);
}

bool writePackage(const BuildRequest& request, const std::vector<TreeFile>& files, const DigestSigner& sign,
                  OutputFile* out, std::string* error) {
  PartWriter writer(out);
  if (!writer.writeFileHeader(request.unregistered ? kUnregisteredMagic : kPackageMagic, error)) return false;
  // The header part and the metadata parts.
  uint64_t signedFrom = writer.offset();
  if (!writer.writeHeaderParts(kPackageHeaderPart, request.header, error)) return false;
  return writeContainer(request, files, &writer, error) &&
         writeSignaturePart(&writer, signedFrom, kSignaturePayloadLength, sign, error) && writer.finishFile(error);
}

}  // namespace

DigestSigner keySigner(const PrivateKey& key) {
  return [key](const unsigned char digest[kSignatureDigestLength], unsigned char payload[kSignaturePayloadLength],
               std::string* error) {
    if (signDigest(key, digest, payload)) return true;
    *error = "signing failed: the key does not verify its own signature";
    return false;
  };
}

bool writeSignaturePart(PartWriter* writer, uint64_t signedFrom, uint32_t length, const DigestSigner& sign,
                        std::string* error) {
  if (!writer->writePartHeader(kSignaturePart, length, error)) return false;
  unsigned char digest[kSignatureDigestLength];
  unsigned char payload[kSignaturePayloadLength];
  if (!digestOfRange(*writer->out(), signedFrom, digest, error) || !sign(digest, payload, error)) return false;
  return writer->out()->write(payload, sizeof payload, error);
}

bool digestOfRange(OutputFile& out, uint64_t from, unsigned char digest[kSignatureDigestLength],
                   std::string* error) {
  SHA1 hash;
  std::vector<unsigned char> buffer(kHashChunk);
  for (uint64_t offset = from; offset < out.size();) {
    size_t length = out.size() - offset < kHashChunk ? static_cast<size_t>(out.size() - offset) : kHashChunk;
    if (!out.readAt(offset, buffer.data(), length, error)) return false;
    hash.update(buffer.data(), length);
    offset += length;
  }
  hash.digest(digest);
  return true;
}

bool buildPackage(const BuildRequest& request, const DigestSigner& sign, const std::string& outPath,
                  std::string* error, std::vector<std::string>* warnings) {
  if (!checkPackageName(request.header.name, error)) return false;
  std::vector<TreeFile> files;
  std::vector<std::string> unused;
  if (!collectFiles(request, outPath, &files, warnings != nullptr ? warnings : &unused, error)) return false;
  OutputFile out;
  if (!out.open(outPath, error)) return false;
  return writePackage(request, files, sign, &out, error) && out.commit(error);
}
