// A package file named on the command line: a path, or "-" for standard
// input, which is first copied in fixed chunks into an unlinked temporary
// file, so that the file can be read more than once and seeked in.
#pragma once

#include <string>

class InputFile {
 public:
  InputFile() = default;
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // A path is taken as it is; "-" is copied. False when standard input
  // cannot be copied (*error says why).
  bool open(const std::string& name, std::string* error);
  // The path to read: the name, or the copy's /dev/fd/N.
  const std::string& path() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
};
