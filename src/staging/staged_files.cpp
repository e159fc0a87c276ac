#include "staging/staged_files.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <utility>

#include "platform/file_io.h"
#include "platform/regular_file.h"
#include "staging/op_line.h"

namespace {

constexpr size_t kRandomLetters = 6;
constexpr int kNameAttempts = 100;
// Far more than the largest run stages; what is longer is no record.
constexpr size_t kLargestRecord = 64u << 20;

// Six letters or digits that differ from call to call; uniqueness comes from
// the exclusive create, not from these.
std::string randomLetters() {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  static uint64_t state = 0;
  if (state == 0) {
    struct timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    state = (uint64_t(::getpid()) << 32) ^ uint64_t(now.tv_nsec) ^ (uint64_t(now.tv_sec) << 20) ^ 0x9E3779B97F4A7C15u;
  }
  std::string letters;
  for (size_t i = 0; i < kRandomLetters; ++i) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    letters += kAlphabet[state % (sizeof kAlphabet - 1)];
  }
  return letters;
}

bool isAlphanumeric(unsigned char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

}  // namespace

StagedRecord::StagedRecord(const BoardPaths& board) : path_(board.at(kStagedRecordPath)) {}

StagedRecord::~StagedRecord() {
  if (fd_ >= 0) ::close(fd_);
}

StagedRecord::StagedRecord(StagedRecord&& other) noexcept : path_(std::move(other.path_)), fd_(other.fd_) {
  other.fd_ = -1;
}

bool StagedRecord::record(const std::string& path) {
  if (fd_ < 0) {
    fd_ = openRegularFile(path_, O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (fd_ < 0) return errno == ENOENT;  // no flash directory: nothing to protect
  }
  // One write, so that an interrupted run leaves whole lines.
  const std::string line = formatOpLine('S', path) + "\n";
  return writeAll(fd_, line.data(), line.size());
}

int StagedRecord::makeTemporaryFile(const std::string& directory, bool hidden, std::string* path) {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    *path = directory + (hidden ? "/.tmp" : "/tmp") + randomLetters();
    if (!record(*path)) return -1;
    const int fd = ::open(path->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

void StagedRecord::forget() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  ::unlink(path_.c_str());
}

bool recordStagedFile(const BoardPaths& board, const std::string& path) { return StagedRecord(board).record(path); }

bool isTemporaryName(const std::string& name) {
  const size_t start = name.compare(0, 4, ".tmp") == 0 ? 4 : name.compare(0, 3, "tmp") == 0 ? 3 : 0;
  if (start == 0 || name.size() != start + kRandomLetters) return false;
  for (size_t i = start; i < name.size(); ++i)
    if (!isAlphanumeric(static_cast<unsigned char>(name[i]))) return false;
  return true;
}

void deleteStagedFiles(const BoardPaths& board, const std::set<std::string>& keep) {
  const std::string record = board.at(kStagedRecordPath);
  std::string text;
  if (!readSmallFile(record, kLargestRecord, &text)) {
    removeAnyEntry(record);  // whatever else stands there is no record, and would block staging
    return;
  }
  for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    char letter = 0;
    std::string path;
    std::string unused;
    if (!parseOpLine(text.substr(start, end - start), 1, &letter, &path, &unused) || letter != 'S') continue;
    const bool onBoard = board.liesBelow(path, kFlashDir) || board.liesBelow(path, kRamDir);
    if (!onBoard || keep.count(path) != 0 || !isRegularFile(path)) continue;
    ::unlink(path.c_str());
  }
  ::unlink(record.c_str());
}
