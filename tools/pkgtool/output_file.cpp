// Output files written beside their destination and renamed into place.
#include "pkgtool/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <vector>

#include "pkgtool/anonymous_file.h"
#include "platform/file_io.h"

namespace {

constexpr size_t kCopyChunk = 16384;

// The temporary files of this process, for a signal that ends it to remove.
constexpr size_t kMaxTemporaries = 8;
std::atomic<const char*> temporaries[kMaxTemporaries];
const int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Runs with the default action restored: removes what it can, then lets the
// signal end the process as it would have.
void removeTemporaries(int signal) {
  for (std::atomic<const char*>& path : temporaries) {
    const char* name = path.load();
    if (name != nullptr) unlink(name);
  }
  raise(signal);
}

// Signals that the process ignores stay ignored.
void catchEndingSignals() {
  static bool caught = false;
  if (caught) return;
  caught = true;
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = removeTemporaries;
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  for (int signal : kEndingSignals) sigaddset(&action.sa_mask, signal);
  for (int signal : kEndingSignals) {
    struct sigaction old;
    if (sigaction(signal, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) sigaction(signal, &action, nullptr);
  }
}

void registerTemporary(const char* name) {
  for (std::atomic<const char*>& path : temporaries) {
    const char* empty = nullptr;
    if (path.compare_exchange_strong(empty, name)) return;
  }
}

void forgetTemporary(const char* name) {
  for (std::atomic<const char*>& path : temporaries) {
    const char* expected = name;
    path.compare_exchange_strong(expected, nullptr);
  }
}

mode_t currentUmask() {
  mode_t mask = umask(0);
  umask(mask);
  return mask;
}

}  // namespace

OutputFile::~OutputFile() { discard(); }

std::string OutputFile::failure(const char* what) const {
  return path_ + ": " + what + ": " + strerror(errno);
}

void OutputFile::discard() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  if (temporaryPath_.empty()) return;
  unlink(temporaryPath_.c_str());
  forgetTemporary(temporaryPath_.c_str());
  temporaryPath_.clear();
}

bool OutputFile::open(const std::string& path, std::string* error) {
  discard();
  path_ = path;
  size_ = 0;
  toStandardOutput_ = path == "-";
  if (toStandardOutput_) return openUnlinked(error);
  std::string pattern = path + ".tmpXXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  catchEndingSignals();
  // No signal may come between the file's creation and its registration.
  sigset_t ending, previous;
  sigemptyset(&ending);
  for (int signal : kEndingSignals) sigaddset(&ending, signal);
  sigprocmask(SIG_BLOCK, &ending, &previous);
  fd_ = mkstemp(name.data());
  if (fd_ >= 0) {
    temporaryPath_ = name.data();
    registerTemporary(temporaryPath_.c_str());
  }
  sigprocmask(SIG_SETMASK, &previous, nullptr);
  if (fd_ < 0) {
    *error = failure("cannot create");
    return false;
  }
  return true;
}

// Standard output takes the bytes only when they are whole; until then they
// wait in a file that is gone with the process, whatever ends it.
bool OutputFile::openUnlinked(std::string* error) {
  std::string pattern;
  fd_ = openAnonymousFile("pkgtool-out", &pattern);
  if (fd_ < 0) *error = pattern + ": cannot create a file for standard output: " + strerror(errno);
  return fd_ >= 0;
}

bool OutputFile::copyToStandardOutput(std::string* error) {
  char buffer[kCopyChunk];
  bool ok = true;
  for (uint64_t offset = 0; ok && offset < size_;) {
    size_t want = size_ - offset < kCopyChunk ? static_cast<size_t>(size_ - offset) : kCopyChunk;
    ok = readAt(offset, buffer, want, error);
    if (ok && !writeAll(STDOUT_FILENO, buffer, want)) {
      *error = std::string("standard output: cannot write: ") + strerror(errno);
      ok = false;
    }
    offset += want;
  }
  close(fd_);
  fd_ = -1;
  return ok;
}

bool OutputFile::write(const void* data, size_t length, std::string* error) {
  return writeAt(size_, data, length, error);
}

bool OutputFile::writeAt(uint64_t offset, const void* data, size_t length, std::string* error) {
  if (!writeAllAt(fd_, data, length, static_cast<off_t>(offset))) {
    *error = failure("cannot write");
    return false;
  }
  if (offset + length > size_) size_ = offset + length;
  return true;
}

bool OutputFile::copyFrom(int fd, const std::string& sourcePath, uint64_t offset, uint64_t length,
                          std::string* error) {
  char buffer[kCopyChunk];
  for (uint64_t end = offset + length; offset < end;) {
    size_t want = end - offset < kCopyChunk ? static_cast<size_t>(end - offset) : kCopyChunk;
    const ssize_t n = readSomeAt(fd, buffer, want, static_cast<off_t>(offset));
    if (n <= 0) {
      *error = sourcePath + ": cannot read: " + (n < 0 ? strerror(errno) : "file shrank");
      return false;
    }
    if (!write(buffer, static_cast<size_t>(n), error)) return false;
    offset += static_cast<uint64_t>(n);
  }
  return true;
}

bool OutputFile::readAt(uint64_t offset, void* data, size_t length, std::string* error) {
  char* bytes = static_cast<char*>(data);
  size_t done = 0;
  while (done < length) {
    const ssize_t n = readSomeAt(fd_, bytes + done, length - done, static_cast<off_t>(offset + done));
    if (n <= 0) {
      if (n == 0) errno = EIO;
      *error = failure("cannot read back");
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool OutputFile::commit(std::string* error, mode_t mode, bool replace, bool lessUmask) {
  if (toStandardOutput_) return copyToStandardOutput(error);
  if (fchmod(fd_, lessUmask ? mode & ~currentUmask() : mode) != 0) {
    *error = failure("cannot set permissions");
    return false;
  }
  int fd = fd_;
  fd_ = -1;
  if (close(fd) != 0) {
    *error = failure("cannot write");
    discard();
    return false;
  }
  if (!replace) return linkIntoPlace(error);
  if (rename(temporaryPath_.c_str(), path_.c_str()) != 0) {
    *error = failure("cannot rename into place");
    discard();
    return false;
  }
  forgetTemporary(temporaryPath_.c_str());
  temporaryPath_.clear();
  return true;
}

// A link fails where a file is already there; the temporary name then goes.
bool OutputFile::linkIntoPlace(std::string* error) {
  bool ok = link(temporaryPath_.c_str(), path_.c_str()) == 0;
  if (!ok) *error = errno == EEXIST ? path_ + ": already exists" : failure("cannot link into place");
  discard();
  return ok;
}
