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
};

// Fills *files with the regular files below root, sorted by path. Anything
// that is neither a regular file nor a directory (a symbolic link, a device,
// a pipe, a socket) is refused: *error names it and the result is false.
bool walkTree(const std::string& root, std::vector<TreeFile>* files, std::string* error);
