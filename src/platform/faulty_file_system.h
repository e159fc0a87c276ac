// A board that fails on purpose, for the tests: the real files, but the Nth call
// that changes a file or makes it durable fails once, or the power is cut after
// it and only what the file systems must keep survives (doc/power_cut_model.md).
#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/file_system.h"

// What survives a power cut of what no barrier covers yet.
enum class CutPolicy {
  kAllKept,      // every entry change and every written byte
  kNoneKept,     // nothing
  kDataLost,     // the entry changes, not the data
  kEntriesLost,  // the data, not the entry changes
  kOneLost,      // nothing on the file system that holds `lostPath`, everything elsewhere
  kKilled,       // no cut at all: the program is killed, and the RAM disk keeps what it holds
};

struct InjectedFault {
  enum Kind { kNone, kFail, kCut } kind = kNone;
  long call = 0;          // the counted call it strikes, from 1
  int error = 0;          // for kFail: the errno, or 0 for a short write
  CutPolicy policy = CutPolicy::kAllKept;
  std::string lostPath;   // for kOneLost
};

// Reads "fail N EIO|ENOSPC|EROFS|short" or "cut N kept|lost|data|entries|killed|fs:PATH".
bool parseFault(const std::string& text, InjectedFault* fault);

class FaultyFileSystem : public FileSystem {
 public:
  // `logFd`, when not -1, receives a line when the fault strikes.
  FaultyFileSystem(const InjectedFault& fault, int logFd);
  ~FaultyFileSystem() override;

  // The calls counted so far.
  long calls() const { return calls_; }
  // Makes the crash state the policy gives of the files as they are now: the
  // cut itself, but for the RAM disk emptied and the process's end.
  void losePower(CutPolicy policy, const std::string& lostPath);

  int open(const std::string& path, int flags, unsigned mode) override;
  ssize_t read(int fd, void* buffer, size_t size) override;
  bool write(int fd, const void* data, size_t size) override;
  off_t seek(int fd, off_t offset, int whence) override;
  bool truncate(int fd, off_t size) override;
  bool setMode(int fd, unsigned mode) override;
  unsigned creationMask() override { return real_.creationMask(); }
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
  using FileId = std::pair<dev_t, ino_t>;
  // What a name held when it went: a file's bytes (now and at its barrier), a
  // link's text, or a directory.
  struct Gone {
    bool present = false;
    mode_t mode = 0;
    std::string bytes, link;
    bool hasDurable = false;
    std::string durable;
    mode_t durableMode = 0;
  };
  // A name made, renamed or removed that no barrier covers yet.
  struct EntryChange {
    enum Kind { kMade, kRenamed, kRemoved } kind;
    dev_t dev;
    std::vector<FileId> directories;  // those whose sync it still waits for
    std::string path, from;           // from: a rename's old name
    Gone gone;                        // what the removal, or a rename, replaced
  };
  // A file written since its last barrier: what it held then, kept through a
  // descriptor of the harness's own so that it can be put back wherever it is.
  struct File {
    int shadow = -1;
    int users = 0;
    bool dirty = false;
    std::string durable;
    mode_t durableMode = 0;
  };

  // Counts a call: false, with errno, when it is the one that fails.
  bool strike(const char* call, const std::string& path);
  // After a counted call: the cut, when it was the one.
  void after();
  bool fileId(int fd, FileId* id);
  void beforeDataChange(int fd);
  void dataBarrier(const FileId& id);
  std::string pathOf(int fd) const;
  void entryChanged(EntryChange::Kind kind, const std::string& path, const std::string& from, const Gone& gone);
  // A counted call: the fault strikes before it, or `act`, the real call, is
  // made and, when it succeeds, `done` keeps the book of what it changed;
  // then the cut, when it was the one. errno stays the real call's.
  template <typename Act, typename Done>
  bool counted(const char* call, const std::string& path, Act act, Done done);
  Gone remember(const std::string& path);
  void forget(int fd);
  void undo(const EntryChange& change, bool dataLost);
  void putBack(const std::string& path, const Gone& gone, bool dataLost);

  PosixFileSystem real_;
  InjectedFault fault_;
  int logFd_;
  long calls_ = 0;
  bool cutNow_ = false;
  std::map<int, std::string> paths_;     // each open descriptor's path
  std::map<int, FileId> writers_;        // each descriptor open for writing
  std::map<FileId, File> files_;
  std::vector<EntryChange> entries_;     // in the order they were made
};
