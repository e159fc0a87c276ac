// The files of a directory tree that become a package's file records: every
// regular file below the root, in byte-wise order of its relative path.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TreeFile {
  std::string path;      // relative to the root, "/"-separated, no leading "/"
  uint32_t mode = 0;     // st_mode as found (file type and permission bits)
  uint64_t size = 0;     // content length as found
  uint64_t device = 0;   // st_dev and st_ino: which file it is
  uint64_t inode = 0;
};

// Fills *files with the regular files below root, sorted by path. Anything
// that is neither a regular file nor a directory (a symbolic link, a device,
// a pipe, a socket) is refused: *error names it and the result is false.
// Directories without any entry, which no record can carry, go to
// *emptyDirectories when it is given.
bool walkTree(const std::string& root, std::vector<TreeFile>* files, std::string* error,
              std::vector<std::string>* emptyDirectories = nullptr);
