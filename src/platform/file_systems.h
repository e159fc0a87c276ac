// The file systems a run has changed, made durable each on its own (syncfs)
// instead of every file system of the machine at once (sync): on a shared
// machine a sync also waits for other programs' writes.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

class FileSystems {
 public:
  // Notes the file system that holds the existing `path`. One that cannot be
  // asked about makes sync() write out every file system of the machine: only
  // that is sure to reach it.
  void add(const std::string& path);
  // Notes the file system that holds `path` when `path` exists.
  void addIfPresent(const std::string& path);

  // Makes every noted file system durable, in the order noted.
  void sync() const;

 private:
  bool note(const std::string& path);

  struct Noted {
    dev_t device;
    std::string path;
  };
  std::vector<Noted> noted_;
  // The last path asked about: the paths of a commit come in path order, so
  // that most share their directory with the one before.
  std::string lastPath_;
  bool unknown_ = false;
};
