// Writing file records into a directory.
#include "pkgtool/record_extraction.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "pkgtool/file_container.h"
#include "pkgtool/output_file.h"
#include "pkgtool/part_writer.h"
#include "platform/file_source.h"

namespace {

constexpr size_t kCopyChunk = 16384;
constexpr mode_t kDirectoryMode = 0755;

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

// The record's content from the inflating stream into its file, which
// appears under its name only whole and with its permission bits: a failure
// or an ending signal leaves nothing there.
bool writeRecord(const std::string& destination, const FileRecord& record, ByteSource& content,
                 std::string* error) {
  OutputFile out;
  if (!makeParents(destination, error) || !out.open(destination, error)) return false;
  char buffer[kCopyChunk];
  for (uint32_t left = record.size; left != 0;) {
    const size_t want = left < kCopyChunk ? left : kCopyChunk;
    if (content.read(buffer, want) != want) {
      *error = destination + ": the package file ends inside its content";
      return false;
    }
    if (!out.write(buffer, want, error)) return false;
    left -= static_cast<uint32_t>(want);
  }
  return out.commit(error, record.mode & kPermissionBits, true, false);
}

}  // namespace

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
  while (stream.nextPart() == kFileContainerPart) {
    FileRecordReader records(stream);
    for (RecordRead read; (read = records.next()) != RecordRead::End;) {
      if (read != RecordRead::Record) {
        *error = path + ": " + recordFaultText(read, records);
        return false;
      }
      const FileRecord& record = records.record();
      if (!isInstalledOn(record, boardClass)) continue;
      // As on the board: the name below the root, with a "/" before it unless it has one.
      const std::string destination = directory + (record.name[0] == '/' ? "" : "/") + record.name;
      if (!writeRecord(destination, record, records, error)) return false;
      ++*written;
    }
  }
  return true;
}
