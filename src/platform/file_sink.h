// A file written through one fixed buffer that remembers whether any write
// failed, so that a copy cut short by a full flash is never taken for whole.
#pragma once

#include <string>

#include "platform/byte_source.h"

#include "platform/file_system.h"

class FileSink : public ByteSink {
 public:
  // Creates or truncates `path` (permission bits 0644 before the umask);
  // isOpen() tells whether that worked. Anything but a regular file at
  // `path` is refused, a link too: what is written never lands elsewhere.
  FileSink(FileSystem& fs, const std::string& path);
  // Writes into the open descriptor `fd` (-1: none, isOpen() is false),
  // which it then owns and closes.
  FileSink(FileSystem& fs, int fd);
  ~FileSink() override;
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;

  bool isOpen() const { return fd_ >= 0; }
  // Writes what is buffered and closes the file; false when any write of the
  // file's life, or the close, failed.
  bool close();
  bool failed() const { return failed_; }
  // Appends `count` bytes; false once any write of the file failed.
  bool write(const char* bytes, size_t count) override;
  // Writes what is buffered; false once any write of the file failed.
  bool flush() { return flushBuffer(); }
  // Writes what is buffered and makes the file durable (fsync); false when
  // any write so far, or the fsync, failed.
  bool makeDurable();

 private:
  static constexpr size_t kBufferSize = 16384;
  bool flushBuffer();

  FileSystem& fs_;
  int fd_;
  bool failed_ = false;
  char buffer_[kBufferSize];
  size_t used_ = 0;
};
