// An output file that appears under its name only when it is complete: bytes
// go to a temporary file beside it, which commit() renames into place. The
// temporary file goes when the object does, and when SIGINT, SIGTERM or
// SIGHUP ends the process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <sys/types.h>

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();  // an uncommitted temporary file is removed
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates the temporary file in the directory of path; for "-" (standard
  // output), an unlinked one in $TMPDIR (default /tmp).
  bool open(const std::string& path, std::string* error);
  bool write(const void* data, size_t length, std::string* error);
  // Overwrites bytes already written (a length field known only later).
  bool writeAt(uint64_t offset, const void* data, size_t length, std::string* error);
  // Appends length bytes of the open file fd from offset (sourcePath names it
  // in errors); fails when fewer are there.
  bool copyFrom(int fd, const std::string& sourcePath, uint64_t offset, uint64_t length, std::string* error);
  // Reads bytes already written back, for hashing what went out.
  bool readAt(uint64_t offset, void* data, size_t length, std::string* error);
  uint64_t size() const { return size_; }
  const std::string& path() const { return path_; }
  // Gives the file mode (less the umask, unless lessUmask is false) and puts
  // it under its path; without replace, a file already there stays and the
  // commit fails. For "-", copies the bytes to standard output instead.
  bool commit(std::string* error, mode_t mode = 0666, bool replace = true, bool lessUmask = true);

 private:
  std::string failure(const char* what) const;
  bool linkIntoPlace(std::string* error);
  bool openUnlinked(std::string* error);
  bool copyToStandardOutput(std::string* error);
  void discard();

  std::string path_;
  std::string temporaryPath_;
  int fd_ = -1;
  uint64_t size_ = 0;
  bool toStandardOutput_ = false;
};
