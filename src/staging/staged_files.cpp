#include "staging/staged_files.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <utility>
#include <vector>

#include "platform/file_io.h"
#include "platform/file_systems.h"
#include "platform/path_utils.h"
#include "platform/regular_file.h"
#include "staging/op_line.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr unsigned kAlphabetSize = sizeof kAlphabet - 1;
// Three random letters, three counting: 62^3 names a stem.
constexpr size_t kStemLetters = 3;
constexpr size_t kCountLetters = 3;
constexpr unsigned kCountsPerStem = kAlphabetSize * kAlphabetSize * kAlphabetSize;
// Far more than the largest run stages; what is longer is no record.
constexpr size_t kLargestRecord = 64u << 20;

// Letters that differ from run to run; uniqueness comes from the exclusive
// create, not from these.
std::string randomLetters(size_t count) {
  static uint64_t state = 0;
  if (state == 0) {
    struct timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    state = (uint64_t(::getpid()) << 32) ^ uint64_t(now.tv_nsec) ^ (uint64_t(now.tv_sec) << 20) ^ 0x9E3779B97F4A7C15u;
  }
  std::string letters;
  for (size_t i = 0; i < count; ++i) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    letters += kAlphabet[state % kAlphabetSize];
  }
  return letters;
}

std::string countLetters(unsigned count) {
  std::string letters(kCountLetters, '0');
  for (size_t i = kCountLetters; i-- > 0; count /= kAlphabetSize) letters[i] = kAlphabet[count % kAlphabetSize];
  return letters;
}

bool isAlphanumeric(unsigned char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool isAlphanumeric(const std::string& text, size_t from) {
  for (size_t i = from; i < text.size(); ++i)
    if (!isAlphanumeric(static_cast<unsigned char>(text[i]))) return false;
  return true;
}

// The regular files of `directory` that a stem names: the stem's base name
// and kCountLetters letters or digits.
std::vector<std::string> filesOfStem(FileSystem& fs, const std::string& stem) {
  const std::string directory = parentDir(stem);
  const std::string base = baseName(stem);
  std::vector<DirectoryEntry> entries;
  std::vector<std::string> files;
  if (!fs.listDirectory(directory, &entries)) return files;
  for (const DirectoryEntry& entry : entries) {
    const std::string& name = entry.name;
    if (name.size() == base.size() + kCountLetters && name.compare(0, base.size(), base) == 0 &&
        isAlphanumeric(name, base.size()))
      files.push_back(directory + "/" + name);
  }
  return files;
}

}  // namespace

StagedRecord::StagedRecord(const BoardPaths& board) : board_(board), path_(board.at(kStagedRecordPath)) {}

StagedRecord::~StagedRecord() {
  if (fd_ >= 0) board_.fs().close(fd_);
}

StagedRecord::StagedRecord(StagedRecord&& other) noexcept
    : board_(other.board_),
      path_(std::move(other.path_)),
      fd_(other.fd_),
      stemLetters_(std::move(other.stemLetters_)),
      count_(other.count_),
      recordedStems_(std::move(other.recordedStems_)),
      lines_(other.lines_) {
  other.fd_ = -1;
}

// One write, so that an interrupted run leaves whole lines, made durable
// before the file it names can be. The record's own name is made durable
// once, when it is created.
bool StagedRecord::append(const std::string& line) {
  FileSystem& fs = board_.fs();
  if (fd_ < 0) {
    fd_ = openRegularFile(fs, path_, O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW, 0600);
    if (fd_ < 0) return errno == ENOENT;  // no flash directory: nothing to protect
    if (!syncDirectory(fs, parentDir(path_))) return false;
  }
  ++lines_;
  return fs.write(fd_, line.data(), line.size()) && fs.syncData(fd_);
}

bool StagedRecord::record(const std::string& path) { return append(formatOpLine('S', path) + "\n"); }

bool StagedRecord::recordStem(const std::string& stem) {
  if (recordedStems_.count(stem) != 0) return true;
  if (!append(formatOpLine('P', stem) + "\n")) return false;
  recordedStems_.insert(stem);
  return true;
}

int StagedRecord::makeTemporaryFile(const std::string& directory, bool hidden, std::string* path, unsigned mode) {
  FileSystem& fs = board_.fs();
  for (;;) {
    if (stemLetters_.empty() || count_ == kCountsPerStem) {
      stemLetters_ = randomLetters(kStemLetters);
      count_ = 0;
    }
    const std::string stem = directory + (hidden ? "/.tmp" : "/tmp") + stemLetters_;
    if (!recordStem(stem)) return -1;
    *path = stem + countLetters(count_++);
    const int fd = fs.open(*path, O_WRONLY | O_CREAT | O_EXCL, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
}

bool StagedRecord::handOverToManifest() {
  FileSystem& fs = board_.fs();
  if (fd_ < 0) return true;  // nothing staged on flash
  const std::string saved = board_.at(kSavedRecordPath);
  // The files of a manifest saved before stay recorded until this one goes.
  std::string earlier;
  if (readSmallFile(fs, saved, kLargestRecord, &earlier, /*followLinks=*/false) &&
      !(fs.write(fd_, earlier.data(), earlier.size()) && fs.syncData(fd_)))
    return false;
  const bool closed = fs.close(fd_);
  fd_ = -1;
  // The rename need not be durable: a cut takes the manifest with the RAM disk,
  // and the next run deletes what either name records.
  return closed && fs.rename(path_, saved);
}

bool StagedRecord::forget() {
  FileSystem& fs = board_.fs();
  if (fd_ >= 0) fs.close(fd_);
  fd_ = -1;
  recordedStems_.clear();
  return fs.unlink(path_) || errno == ENOENT;
}

bool isTemporaryName(const std::string& name) {
  const size_t start = name.compare(0, 4, ".tmp") == 0 ? 4 : name.compare(0, 3, "tmp") == 0 ? 3 : 0;
  return start != 0 && name.size() == start + kStemLetters + kCountLetters && isAlphanumeric(name, start);
}

bool deleteStagedFiles(const BoardPaths& board, const std::string& recordPath, const std::set<std::string>& keep) {
  FileSystem& fs = board.fs();
  std::string text;
  if (!readSmallFile(fs, recordPath, kLargestRecord, &text, /*followLinks=*/false)) {
    if (errno == ENOENT) return true;
    // A record the flash fails to give back stays for a run that can read it;
    // whatever else stands there is no record, and would block staging.
    if (errno == EIO) return false;
    removeAnyEntry(fs, recordPath);
    return true;
  }
  // The deletions are durable before the record that names them goes: a
  // power cut must not bring a file back that no record names.
  FileSystems deletedOn(fs);
  bool deleted = true;
  auto deleteFile = [&](const std::string& path) {
    const bool onBoard = board.liesBelow(path, kFlashDir) || board.liesBelow(path, kRamDir);
    if (!onBoard || keep.count(path) != 0 || !isRegularFile(fs, path)) return;
    if (fs.unlink(path)) {
      if (!board.liesBelow(path, kRamDir)) deletedOn.add(parentDir(path));
    } else if (errno != ENOENT) {
      deleted = false;
    }
  };
  for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    char letter = 0;
    std::string path;
    std::string unused;
    if (!parseOpLine(text.substr(start, end - start), 1, &letter, &path, &unused)) continue;
    if (letter == 'S') deleteFile(path);
    if (letter == 'P' && isTemporaryName(baseName(path) + std::string(kCountLetters, '0')))
      for (const std::string& file : filesOfStem(fs, path)) deleteFile(file);
  }
  return deleted && deletedOn.sync() && (fs.unlink(recordPath) || errno == ENOENT);
}
