// A board that records instead of writing: what a run would change is kept in
// memory as what it leaves behind (path, kind, mode, size), never the bytes,
// and the board answers every question afterwards as if it had been changed.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_system.h"

// One path the recorded changes leave other than the board had it.
struct RecordedChange {
  char op;          // '+' added, '~' changed, '-' removed
  std::string path;
  unsigned mode;    // what is there now: its type and permission bits; the old one for '-'
  uint64_t size;    // bytes of a file, the length of a link's text
  std::string text; // a link's text
};

// Reads go to `board` below `root` (board paths are those of a run that has
// entered the root). Opening, writing, truncating, changing a mode, renaming,
// linking, deleting and making or removing directories change only the
// record; syncs have nothing to make durable and succeed. status,
// listDirectory and freeSpace tell the recorded state: freeSpace takes the
// blocks of the recorded files of its file system off the free ones and adds
// those of the files the record deletes or replaces, so that a run's own
// space check decides as on the board. A recorded file has no content: it
// reads as zero bytes up to its size (a commit copies a file staged on
// another file system so). A write that needs more blocks than its file
// system has free fails with ENOSPC. Directories are not renamed (EXDEV).
class RecordingFileSystem : public FileSystem {
 public:
  RecordingFileSystem(FileSystem& board, std::string root) : board_(board), root_(std::move(root)) {}

  int open(const std::string& path, int flags, unsigned mode) override;
  ssize_t read(int fd, void* buffer, size_t size) override;
  bool write(int fd, const void* data, size_t size) override;
  off_t seek(int fd, off_t offset, int whence) override;
  bool truncate(int fd, off_t size) override;
  bool setMode(int fd, unsigned mode) override;
  unsigned creationMask() override { return board_.creationMask(); }
  bool fileStatus(int fd, struct stat* info) override;
  bool syncFile(int fd) override;
  bool syncData(int fd) override { return syncFile(fd); }
  bool close(int fd) override;
  bool status(const std::string& path, struct stat* info, bool followLinks) override;
  bool freeSpace(const std::string& path, struct statfs* info) override;
  bool syncFileSystem(const std::string& path) override;
  bool rename(const std::string& from, const std::string& to) override;
  bool symlink(const std::string& text, const std::string& path) override;
  bool unlink(const std::string& path) override;
  bool makeDirectory(const std::string& path, unsigned mode) override;
  bool removeDirectory(const std::string& path) override;
  bool listDirectory(const std::string& path, std::vector<DirectoryEntry>* entries) override;

  // What the record leaves changed, in path order.
  std::vector<RecordedChange> changes() const;

 private:
  // A file, directory or link as the record has it; one object for as long as
  // it exists, whatever its name and the descriptors open on it.
  struct Node {
    unsigned mode = 0;
    uint64_t size = 0;
    dev_t device = 0;
    std::string home;  // a directory on its file system, to ask for free space
    std::string text;
    bool written = false;
  };
  // A recorded path: what it holds now (null: nothing), and what the board
  // has there.
  struct Entry {
    std::shared_ptr<Node> node;
    bool existed = false;
    struct stat old {};
  };
  struct Handle {
    std::shared_ptr<Node> node;
    uint64_t offset = 0;
    bool append = false;
  };

  std::string real(const std::string& path) const { return root_ + path; }
  // The entry of `path`, made from the board's file when it has none yet.
  Entry& record(const std::string& path);
  // What lies at `path` now, links followed at the end or not.
  bool look(const std::string& path, struct stat* info, bool followLinks, int depth = 0);
  // The existing directory a new entry at `path` goes into, and its device;
  // false with errno when there is none.
  bool parentOf(const std::string& path, dev_t* device);
  // A new entry at `path` of the whole `mode`, on its parent's device; null
  // with errno when the parent is missing.
  std::shared_ptr<Node> createNode(const std::string& path, unsigned mode);
  Handle* handle(int fd);
  int openHandle(std::shared_ptr<Node> node, int flags);

  FileSystem& board_;
  const std::string root_;
  std::map<std::string, Entry> entries_;
  std::map<int, Handle> handles_;
  int nextHandle_ = 1 << 28;  // beyond any descriptor the board gives
};
