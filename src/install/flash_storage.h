// Flash storage: where stored and boot images go, and whether a staged
// transaction still fits on flash.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "model/board_paths.h"

class Transaction;

// Each budget must keep more than this many free blocks after a transaction.
constexpr int64_t kReservedBlocks = 16;

// What stat says of one path (links followed), asked at most once however
// many budgets want to know: the space check looks at every staged file.
class PathStatus {
 public:
  // `path` must outlive this.
  PathStatus(FileSystem& fs, const std::string& path) : fs_(fs), path_(path) {}
  PathStatus(FileSystem& fs, std::string&& path) = delete;
  const std::string& path() const { return path_; }
  // The status, or null when there is no such file.
  const struct stat* info();
  // There is no such file, as its directory is missing: nothing to ask.
  void knownAbsent() { asked_ = true, exists_ = false; }

 private:
  FileSystem& fs_;
  const std::string& path_;
  bool asked_ = false;
  bool exists_ = false;
  struct stat info_;
};

// The free-space account of one file system during the space check. Every
// path that begins with `mountPath` counts against it, with no check for a
// "/" after the prefix: "/flash/bootimage" counts against "/flash/boot".
class SpaceBudget {
 public:
  // Takes block size and free blocks of the file system at `path`; when that
  // cannot be asked, the budget has 0 blocks of 1 byte.
  SpaceBudget(FileSystem& fs, std::string path);

  bool counts(const std::string& path) const;
  // The size in whole blocks, a partial block counting as a whole one.
  uint64_t blocksOf(uint64_t size) const;

  // The file at `path` will be freed.
  void release(PathStatus& path);
  // `source` will take the place of `destination`. It costs nothing when it
  // already lies on the destination's device and replaces a file there. One
  // that lies on another device is also counted in `copiedBlocks`. True
  // when the commit copies it in.
  bool consume(PathStatus& source, PathStatus& destination);
  // The same for a file of `size` bytes that lies on `device`.
  bool consume(uint64_t device, uint64_t size, PathStatus& destination);

  std::string mountPath;
  uint32_t blockSize = 0;
  // Wider than the board's counter so that no transaction can wrap it.
  int64_t freeBlocks = 0;
  // The files the commit copies in from another device: each is placed
  // beside its destination before any old file is freed.
  int64_t copiedBlocks = 0;

 private:
  // The device of the nearest directory of `dir` that exists: where the
  // commit places a new file below it. Asked once for a new tree, whose
  // files a transaction lists together.
  uint64_t homeDevice(const std::string& dir);

  FileSystem* fs_;
  // The directory asked last, and the nearest that exists of the last way
  // up ("" when none could be seen).
  std::string homeDir_;
  std::string homeFound_;
  uint64_t homeDevice_ = 0;
};

// True when the staged changes leave more than 16 free blocks on the boot
// area and on the main flash file system of the transaction's board, and the
// commit has room to place the files it copies in from another device, with
// the record of staged files and the journal it writes on the main flash
// meanwhile. The run's own record of staged files, which goes when the run
// ends, counts as free.
bool hasEnoughSpace(const Transaction& transaction);

// Stages where a package's stored image goes: the boot image is moved to
// "/flash/bootimage" and linked at `imagePath`; any other image is moved to
// `imagePath`.
void placeImage(Transaction& transaction, const std::string& source, const std::string& imagePath, bool bootImage);

