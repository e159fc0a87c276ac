// A file written through one fixed buffer that remembers whether any write
// failed, so that a copy cut short by a full flash is never taken for whole.
#pragma once

#include <streambuf>
#include <string>

#include "platform/file_system.h"

class FileSink : public std::streambuf {
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
  // Writes what is buffered and makes the file durable (fsync); false when
  // any write so far, or the fsync, failed.
  bool makeDurable();

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char_type* bytes, std::streamsize count) override;
  int sync() override;

 private:
  static constexpr size_t kBufferSize = 16384;
  bool flushBuffer();

  FileSystem& fs_;
  int fd_;
  bool failed_ = false;
  char buffer_[kBufferSize];
};
