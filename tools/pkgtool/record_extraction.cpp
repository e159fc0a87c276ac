// Writing file records into a directory.
#include "pkgtool/record_extraction.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "pkgfile/processor_class.h"
#include "pkgfile/record_name.h"
#include "pkgtool/file_container.h"
#include "pkgtool/part_writer.h"
#include "platform/file_source.h"

namespace {

constexpr size_t kCopyChunk = 16384;
constexpr mode_t kDirectoryMode = 0755;
constexpr uint32_t kFileTypeMask = 0xF000;

// Makes every directory of path up to its last "/", as far as missing.
bool makeParents(const std::string& path, std::string* error) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    const std::string directory = path.substr(0, slash);
    if (mkdir(directory.c_str(), kDirectoryMode) != 0 && errno != EEXIST) {
      *error = directory + ": cannot make directory: " + strerror(errno);
      return false;
    }
  }
  return true;
}

bool writeAll(int fd, const char* bytes, size_t length) {
  while (length != 0) {
    ssize_t n = write(fd, bytes, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

// The record's content from the inflating stream into its file.
bool writeRecord(const std::string& destination, const FileRecordInfo& record, std::istream& content,
                 std::string* error) {
  if (!makeParents(destination, error)) return false;
  int fd = open(destination.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    *error = destination + ": cannot create: " + strerror(errno);
    return false;
  }
  char buffer[kCopyChunk];
  bool ok = true;
  for (uint32_t left = record.size; ok && left != 0;) {
    const size_t want = left < kCopyChunk ? left : kCopyChunk;
    if (!content.read(buffer, static_cast<std::streamsize>(want))) {
      *error = destination + ": the package file ends inside its content";
      ok = false;
    } else if (!writeAll(fd, buffer, want)) {
      *error = destination + ": cannot write: " + strerror(errno);
      ok = false;
    }
    left -= static_cast<uint32_t>(want);
  }
  // The permission bits as the record has them, whatever the umask.
  if (ok && fchmod(fd, record.mode & kPermissionBits) != 0) {
    *error = destination + ": cannot set permissions: " + strerror(errno);
    ok = false;
  }
  if (close(fd) != 0 && ok) {
    *error = destination + ": cannot write: " + strerror(errno);
    ok = false;
  }
  return ok;
}

}  // namespace

bool recordInstalled(const FileRecordInfo& record, int boardClass) {
  return (record.mode & kFileTypeMask) == kRegularFileType && recordFitsBoard(record.processorClass, boardClass);
}

bool checkRecordNames(const FileReport& report, int boardClass, std::string* error) {
  for (const PackageReport& package : report.packages) {
    for (const FileRecordInfo& record : package.files) {
      if (!recordInstalled(record, boardClass) || isSafeRecordName(record.name)) continue;
      *error = package.info->name + ": the installer refuses the file record name " + quotedName(record.name);
      return false;
    }
  }
  return true;
}

bool extractRecords(const std::string& path, const std::string& directory, int boardClass, size_t* written,
                    std::string* error) {
  *written = 0;
  PosixFileSystem fs;
  FileSource file(fs, path);
  if (!file.isOpen()) {
    *error = path + ": cannot open: " + strerror(errno);
    return false;
  }
  if (!makeParents(directory + "/", error)) return false;
  PackageStream stream(&file, false);
  stream.acceptPart(kFileContainerPart);
  auto extract = [&](const FileRecordInfo& record, std::istream& content) {
    if (!recordInstalled(record, boardClass)) return true;
    // As on the board: the name below the root, with a "/" before it unless it has one.
    const std::string destination = directory + (record.name[0] == '/' ? "" : "/") + record.name;
    if (!writeRecord(destination, record, content, error)) return false;
    ++*written;
    return true;
  };
  while (stream.nextPart() == kFileContainerPart) {
    std::string broken;
    if (forEachFileRecord(stream, extract, &broken)) continue;
    if (error->empty()) *error = path + ": " + broken;
    return false;
  }
  return true;
}
