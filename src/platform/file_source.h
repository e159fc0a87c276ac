// A package file, or standard input, as the source of a package stream: read
// through one fixed buffer, a read error ending the data.
#pragma once

#include <sys/types.h>

#include <string>

#include "platform/direct_read_buffer.h"
#include "platform/file_system.h"

class FileSource : public DirectReadBuffer {
 public:
  // Opens `path` read-only; isOpen() tells whether that worked.
  FileSource(FileSystem& fs, const std::string& path);
  // Opens `path` only if it is a regular file, without waiting on a pipe in
  // its place. The data end at the size the file had then, so reaching it
  // costs no read that finds nothing.
  static FileSource regularFile(FileSystem& fs, const std::string& path) { return FileSource(fs, path, RegularOnly()); }
  // Reads an open descriptor (standard input) that stays open afterwards.
  FileSource(FileSystem& fs, int fd);
  ~FileSource() override;
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  bool isOpen() const { return fd_ >= 0; }
  // The size a regular file had when it was opened; -1 when not known.
  off_t sizeAtOpen() const { return size_; }
  // A read failed (an I/O error, or the path names a directory).
  bool readFailed() const { return readFailed_; }

  // Seeks the descriptor past the bytes; a pipe, which cannot, reads
  // through them.
  bool skip(uint64_t count) override;

 private:
  static constexpr size_t kBufferSize = 16384;
  // A read of at least this much that finds the buffer empty goes straight
  // into the reader's buffer, saving a copy.
  static constexpr size_t kDirectRead = 4096;

  struct RegularOnly {};
  FileSource(FileSystem& fs, const std::string& path, RegularOnly);

  // One read of the descriptor; a failure is remembered and reads as 0.
  size_t readInto(char* out, size_t count) override;

  FileSystem& fs_;
  int fd_;
  bool ownsFd_;
  bool readFailed_ = false;
  // The descriptor's offset, counted as it reads and seeks so that a seek
  // need not ask for it; -1 until known (a descriptor handed over may stand
  // anywhere).
  off_t offset_;
  off_t size_ = -1;
  char buffer_[kBufferSize];
};
