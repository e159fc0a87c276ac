// The file systems a run has changed, made durable each on its own (syncfs)
// instead of every file system of the machine at once (sync): on a shared
// machine a sync also waits for other programs' writes.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/file_system.h"

class FileSystems {
 public:
  explicit FileSystems(FileSystem& fs) : fs_(fs) {}

  // Notes the file system that holds `path`, or, when it is missing, its
  // nearest existing ancestor.
  void add(const std::string& path);

  // Makes every noted file system durable, in the order noted. False when one
  // cannot be, with errno and `failedPath` (may be null) telling which.
  bool sync(std::string* failedPath = nullptr) const;

 private:
  struct Noted {
    dev_t device;
    std::string path;
  };
  FileSystem& fs_;
  std::vector<Noted> noted_;
  // The last path asked about: the paths of a commit come in path order, so
  // that most share their directory with the one before.
  std::string lastPath_;
};
