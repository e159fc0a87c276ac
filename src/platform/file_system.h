// Every call the programs make on the board's files, behind one interface: the
// run receives it with its BoardPaths. PosixFileSystem is the real one; tests
// put a board that fails or loses power on purpose in its place.
#pragma once

#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/types.h>

#include <string>
#include <vector>

// One name of a directory, with its type as the directory tells it (a
// dirent DT_ value; DT_UNKNOWN where the file system does not say).
struct DirectoryEntry {
  std::string name;
  unsigned char type;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Opens `path` with open(2) `flags` (O_CLOEXEC is added) and `mode` for a
  // new file. The descriptor, or -1 with errno.
  virtual int open(const std::string& path, int flags, unsigned mode) = 0;
  // Reads up to `size` bytes, retrying when a signal interrupts the call: the
  // count read, 0 at the end of the file, -1 with errno.
  virtual ssize_t read(int fd, void* buffer, size_t size) = 0;
  // Writes all `size` bytes. False, with errno, when they do not all go; a
  // write that makes no progress counts as a full disk (ENOSPC).
  virtual bool write(int fd, const void* data, size_t size) = 0;
  // lseek(2): the new offset, or -1 with errno.
  virtual off_t seek(int fd, off_t offset, int whence) = 0;
  virtual bool truncate(int fd, off_t size) = 0;
  virtual bool setMode(int fd, unsigned mode) = 0;
  // The permission bits the process's umask takes from every file it
  // creates, asked once.
  virtual unsigned creationMask() = 0;
  virtual bool fileStatus(int fd, struct stat* info) = 0;
  // fsync(2): the file's data and attributes are durable; a directory's
  // entries are, when `fd` is a directory.
  virtual bool syncFile(int fd) = 0;
  // fdatasync(2): the file's data are durable.
  virtual bool syncData(int fd) = 0;
  // Closes the descriptor; false with errno when the close reports an error
  // (the descriptor is gone all the same).
  virtual bool close(int fd) = 0;

  // stat(2), or lstat(2) when `followLinks` is false.
  virtual bool status(const std::string& path, struct stat* info, bool followLinks = true) = 0;
  // statfs(2): the free space of the file system that holds `path`.
  virtual bool freeSpace(const std::string& path, struct statfs* info) = 0;
  // syncfs(2) of the file system that holds the directory `path`.
  virtual bool syncFileSystem(const std::string& path) = 0;
  virtual bool rename(const std::string& from, const std::string& to) = 0;
  // Makes `path` a symbolic link whose text is `text`.
  virtual bool symlink(const std::string& text, const std::string& path) = 0;
  virtual bool unlink(const std::string& path) = 0;
  virtual bool makeDirectory(const std::string& path, unsigned mode) = 0;
  virtual bool removeDirectory(const std::string& path) = 0;
  // The entries of the directory `path`, "." and ".." left out, in directory
  // order. False with errno when it cannot be listed.
  virtual bool listDirectory(const std::string& path, std::vector<DirectoryEntry>* entries) = 0;
};

// The operating system's own calls.
class PosixFileSystem : public FileSystem {
 public:
  int open(const std::string& path, int flags, unsigned mode) override;
  ssize_t read(int fd, void* buffer, size_t size) override;
  bool write(int fd, const void* data, size_t size) override;
  off_t seek(int fd, off_t offset, int whence) override;
  bool truncate(int fd, off_t size) override;
  bool setMode(int fd, unsigned mode) override;
  unsigned creationMask() override;
  bool fileStatus(int fd, struct stat* info) override;
  bool syncFile(int fd) override;
  bool syncData(int fd) override;
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

 private:
  int creationMask_ = -1;
};

// fsync of the directory `path` itself: its entries made, renamed or removed
// are durable. False with errno when it cannot be opened or synced.
bool syncDirectory(FileSystem& fs, const std::string& path);
