// A small text file of the board read as words, lines and numbers through one
// fixed buffer, the way the standard library's streams read them in the
// classic locale, without the cost of setting up a stream for every file: the
// package database is a few small files per package, read at every boot.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/file_system.h"

class TextReader {
 public:
  // Opens `path` when it is a regular file (see openRegularFile); a reader of
  // anything else is not open, and every read from it fails.
  TextReader(FileSystem& fs, const std::string& path);
  ~TextReader();
  TextReader(const TextReader&) = delete;
  TextReader& operator=(const TextReader&) = delete;

  bool isOpen() const { return fd_ >= 0; }

  // Each read below fails once one has failed, as a stream does, and a read
  // error of the file fails the read it happens in.

  // The next word: blanks, tabs, line and form feeds and carriage returns are
  // skipped, then everything up to the next of them is taken.
  bool word(std::string* text);
  // The rest of the line, without its newline; fails only when nothing at all
  // is left.
  bool line(std::string* text);
  // The next decimal number after blanks, with an optional sign. Fails
  // without a digit, or beyond the type's range; a minus sign before an
  // unsigned number takes it modulo 2^32, as the library does.
  bool number(uint32_t* value);
  bool number(int32_t* value);

 private:
  static constexpr size_t kBufferSize = 4096;

  // The next byte without taking it, or -1 at the end of the file or after a
  // read error.
  int peek();
  bool fail();
  void skipBlanks();
  // Digits after an optional sign: the magnitude, or false without a digit.
  // A magnitude beyond 64 bits stays beyond every range asked for.
  bool digits(bool* negative, uint64_t* magnitude);

  FileSystem& fs_;
  int fd_;
  bool failed_;
  bool ended_ = false;
  size_t next_ = 0;
  size_t end_ = 0;
  char buffer_[kBufferSize];
};
