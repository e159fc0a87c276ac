#include "platform/faulty_file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/file_io.h"

namespace {

const int kWriting = O_WRONLY | O_RDWR | O_CREAT | O_TRUNC;

std::string directoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// The whole content of an open file, read from its start.
bool readAll(int fd, std::string* bytes) {
  bytes->clear();
  char buffer[16384];
  for (off_t at = 0;;) {
    const ssize_t got = readSomeAt(fd, buffer, sizeof buffer, at);
    if (got <= 0) return got == 0;
    bytes->append(buffer, static_cast<size_t>(got));
    at += got;
  }
}

bool writeWhole(int fd, const std::string& bytes) { return writeAllAt(fd, bytes.data(), bytes.size(), 0); }

// Everything below `path`, and `path` itself unless `keepTop`.
void removeTree(const std::string& path, bool keepTop) {
  struct stat info;
  if (::lstat(path.c_str(), &info) != 0) return;
  if (S_ISDIR(info.st_mode)) {
    std::vector<DirectoryEntry> entries;
    PosixFileSystem().listDirectory(path, &entries);
    for (const DirectoryEntry& entry : entries) removeTree(path + "/" + entry.name, false);
    if (!keepTop) ::rmdir(path.c_str());
  } else if (!keepTop) {
    ::unlink(path.c_str());
  }
}

}  // namespace

bool parseFault(const std::string& text, InjectedFault* fault) {
  char kind[8], what[256];
  long call;
  if (std::sscanf(text.c_str(), "%7s %ld %255s", kind, &call, what) != 3 || call < 1) return false;
  const std::string word = what;
  fault->call = call;
  if (std::strcmp(kind, "fail") == 0) {
    fault->kind = InjectedFault::kFail;
    fault->error = word == "EIO" ? EIO : word == "ENOSPC" ? ENOSPC : word == "EROFS" ? EROFS : word == "short" ? 0 : -1;
    return fault->error >= 0;
  }
  if (std::strcmp(kind, "cut") != 0) return false;
  fault->kind = InjectedFault::kCut;
  if (word.compare(0, 3, "fs:") == 0) {
    fault->policy = CutPolicy::kOneLost;
    fault->lostPath = word.substr(3);
    return !fault->lostPath.empty();
  }
  fault->policy = word == "kept" ? CutPolicy::kAllKept : word == "lost" ? CutPolicy::kNoneKept
                : word == "data" ? CutPolicy::kDataLost : word == "killed" ? CutPolicy::kKilled : CutPolicy::kEntriesLost;
  return word == "kept" || word == "lost" || word == "data" || word == "entries" || word == "killed";
}

FaultyFileSystem::FaultyFileSystem(const InjectedFault& fault, int logFd) : fault_(fault), logFd_(logFd) {}

FaultyFileSystem::~FaultyFileSystem() {
  for (auto& file : files_) ::close(file.second.shadow);
}

bool FaultyFileSystem::strike(const char* call, const std::string& path) {
  ++calls_;
  if (fault_.kind == InjectedFault::kNone || calls_ != fault_.call) return true;
  const bool shortWrite = fault_.kind == InjectedFault::kFail && fault_.error == 0;
  if (shortWrite && std::strcmp(call, "write") != 0) return true;  // only a write can be short
  if (logFd_ >= 0) {
    const std::string line = std::string(fault_.kind == InjectedFault::kFail ? "fail " : "cut ") +
                             std::to_string(calls_) + " " + call + " " + path + "\n";
    (void)!::write(logFd_, line.data(), line.size());
  }
  if (fault_.kind == InjectedFault::kCut) {
    cutNow_ = true;
    return true;
  }
  errno = shortWrite ? ENOSPC : fault_.error;
  return false;
}

void FaultyFileSystem::after() {
  if (!cutNow_) return;
  if (fault_.policy != CutPolicy::kKilled) {
    losePower(fault_.policy, fault_.lostPath);
    removeTree("/ram", true);  // a RAM disk keeps nothing
  }
  ::kill(::getpid(), SIGKILL);
}

bool FaultyFileSystem::fileId(int fd, FileId* id) {
  struct stat info;
  if (::fstat(fd, &info) != 0) return false;
  *id = FileId(info.st_dev, info.st_ino);
  return true;
}

std::string FaultyFileSystem::pathOf(int fd) const {
  const auto found = paths_.find(fd);
  return found == paths_.end() ? "fd " + std::to_string(fd) : found->second;
}

// The first change after a barrier keeps what the file held at it.
void FaultyFileSystem::beforeDataChange(int fd) {
  FileId id;
  const auto writer = writers_.find(fd);
  if (writer == writers_.end() || !fileId(fd, &id)) return;
  File& file = files_[id];
  struct stat info;
  if (file.dirty || file.shadow < 0 || ::fstat(file.shadow, &info) != 0) return;
  file.dirty = readAll(file.shadow, &file.durable);
  file.durableMode = info.st_mode & 07777;
}

void FaultyFileSystem::dataBarrier(const FileId& id) {
  const auto found = files_.find(id);
  if (found == files_.end()) return;
  found->second.dirty = false;
  found->second.durable.clear();
  if (found->second.users == 0) {
    ::close(found->second.shadow);
    files_.erase(found);
  }
}

void FaultyFileSystem::entryChanged(EntryChange::Kind kind, const std::string& path, const std::string& from,
                                    const Gone& gone) {
  EntryChange change{kind, 0, {}, path, from, gone};
  for (const std::string* name : {&path, &from}) {
    struct stat info;
    if (name->empty() || ::stat(directoryOf(*name).c_str(), &info) != 0) continue;
    change.dev = info.st_dev;
    const FileId directory(info.st_dev, info.st_ino);
    if (change.directories.empty() || change.directories[0] != directory) change.directories.push_back(directory);
  }
  if (!change.directories.empty()) entries_.push_back(change);
}

FaultyFileSystem::Gone FaultyFileSystem::remember(const std::string& path) {
  Gone gone;
  struct stat info;
  if (::lstat(path.c_str(), &info) != 0) return gone;
  gone.present = true;
  gone.mode = info.st_mode;
  if (S_ISLNK(info.st_mode)) {
    char text[4096];
    const ssize_t length = ::readlink(path.c_str(), text, sizeof text);
    gone.link.assign(text, length > 0 ? static_cast<size_t>(length) : 0);
  } else if (S_ISREG(info.st_mode)) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) readAll(fd, &gone.bytes);
    ::close(fd);
    const auto found = files_.find(FileId(info.st_dev, info.st_ino));
    gone.hasDurable = found != files_.end() && found->second.dirty;
    if (gone.hasDurable) gone.durable = found->second.durable, gone.durableMode = found->second.durableMode;
  }
  return gone;
}

void FaultyFileSystem::forget(int fd) {
  paths_.erase(fd);
  const auto writer = writers_.find(fd);
  if (writer == writers_.end()) return;
  const auto found = files_.find(writer->second);
  writers_.erase(writer);
  if (found == files_.end() || --found->second.users > 0 || found->second.dirty) return;
  ::close(found->second.shadow);
  files_.erase(found);
}

int FaultyFileSystem::open(const std::string& path, int flags, unsigned mode) {
  if ((flags & kWriting) == 0) {
    const int fd = real_.open(path, flags, mode);
    if (fd >= 0) forget(fd), paths_[fd] = path;
    return fd;
  }
  struct stat before;
  const bool existed = ::stat(path.c_str(), &before) == 0;
  std::string content;
  if (existed && S_ISREG(before.st_mode) && (flags & O_TRUNC) != 0) {  // what a truncation loses, read first
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) readAll(fd, &content);
    ::close(fd);
  }
  if (!strike("open", path)) return -1;
  const int fd = real_.open(path, flags, mode);
  const int error = errno;
  struct stat info;
  if (fd >= 0 && ::fstat(fd, &info) == 0) {
    forget(fd);
    paths_[fd] = path;
    if (S_ISREG(info.st_mode)) {
      File& file = files_[FileId(info.st_dev, info.st_ino)];
      if (file.shadow < 0) file.shadow = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
      ++file.users;
      writers_[fd] = FileId(info.st_dev, info.st_ino);
      if (!file.dirty && (!existed || (flags & O_TRUNC) != 0)) {
        file.dirty = true;
        file.durable = existed ? content : std::string();
        file.durableMode = (existed ? before.st_mode : info.st_mode) & 07777;
      }
    }
    if (!existed) entryChanged(EntryChange::kMade, path, std::string(), Gone());
  }
  after();
  errno = error;
  return fd;
}

ssize_t FaultyFileSystem::read(int fd, void* buffer, size_t size) { return real_.read(fd, buffer, size); }

bool FaultyFileSystem::write(int fd, const void* data, size_t size) {
  beforeDataChange(fd);
  if (!strike("write", pathOf(fd))) {
    const int error = errno;
    if (fault_.error == 0) real_.write(fd, data, size / 2);  // a short write: part of it went
    errno = error;
    return false;
  }
  const bool done = real_.write(fd, data, size);
  const int error = errno;
  after();
  errno = error;
  return done;
}

template <typename Act, typename Done>
bool FaultyFileSystem::counted(const char* call, const std::string& path, Act act, Done done) {
  if (!strike(call, path)) return false;
  const bool made = act();
  const int error = errno;
  if (made) done();
  after();
  errno = error;
  return made;
}

off_t FaultyFileSystem::seek(int fd, off_t offset, int whence) { return real_.seek(fd, offset, whence); }

bool FaultyFileSystem::truncate(int fd, off_t size) {
  beforeDataChange(fd);
  return counted("truncate", pathOf(fd), [&] { return real_.truncate(fd, size); }, [] {});
}

bool FaultyFileSystem::setMode(int fd, unsigned mode) {
  beforeDataChange(fd);
  return counted("setMode", pathOf(fd), [&] { return real_.setMode(fd, mode); }, [] {});
}

bool FaultyFileSystem::fileStatus(int fd, struct stat* info) { return real_.fileStatus(fd, info); }

bool FaultyFileSystem::syncFile(int fd) {
  return counted("syncFile", pathOf(fd), [&] { return real_.syncFile(fd); }, [&] {
    struct stat info;
    if (::fstat(fd, &info) != 0) return;
    const FileId id(info.st_dev, info.st_ino);
    if (S_ISDIR(info.st_mode)) {  // the entries made, renamed or removed in it are durable
      for (EntryChange& change : entries_) {
        std::vector<FileId>& waiting = change.directories;
        for (size_t i = 0; i < waiting.size();) i = waiting[i] == id ? (waiting.erase(waiting.begin() + i), i) : i + 1;
      }
      std::vector<EntryChange> pending;
      for (EntryChange& change : entries_)
        if (!change.directories.empty()) pending.push_back(std::move(change));
      entries_.swap(pending);
    }
    dataBarrier(id);
  });
}

bool FaultyFileSystem::syncData(int fd) {
  return counted("syncData", pathOf(fd), [&] { return real_.syncData(fd); }, [&] {
    FileId id;
    if (fileId(fd, &id)) dataBarrier(id);
  });
}

bool FaultyFileSystem::close(int fd) {
  forget(fd);
  return real_.close(fd);
}

bool FaultyFileSystem::status(const std::string& path, struct stat* info, bool followLinks) {
  return real_.status(path, info, followLinks);
}

bool FaultyFileSystem::freeSpace(const std::string& path, struct statfs* info) {
  return real_.freeSpace(path, info);
}

bool FaultyFileSystem::syncFileSystem(const std::string& path) {
  return counted("syncFileSystem", path, [&] { return real_.syncFileSystem(path); }, [&] {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) return;
    std::vector<FileId> synced;
    for (const auto& file : files_)
      if (file.first.first == info.st_dev) synced.push_back(file.first);
    for (const FileId& id : synced) dataBarrier(id);
    std::vector<EntryChange> pending;
    for (EntryChange& change : entries_)
      if (change.dev != info.st_dev) pending.push_back(std::move(change));
    entries_.swap(pending);
  });
}

bool FaultyFileSystem::rename(const std::string& from, const std::string& to) {
  const Gone replaced = remember(to);
  return counted("rename", from + " " + to, [&] { return real_.rename(from, to); }, [&] {
    entryChanged(EntryChange::kRenamed, to, from, replaced);
    for (auto& open : paths_)
      if (open.second == from) open.second = to;
  });
}

bool FaultyFileSystem::symlink(const std::string& text, const std::string& path) {
  return counted("symlink", path, [&] { return real_.symlink(text, path); },
                 [&] { entryChanged(EntryChange::kMade, path, std::string(), Gone()); });
}

bool FaultyFileSystem::unlink(const std::string& path) {
  const Gone gone = remember(path);
  return counted("unlink", path, [&] { return real_.unlink(path); },
                 [&] { entryChanged(EntryChange::kRemoved, path, std::string(), gone); });
}

bool FaultyFileSystem::makeDirectory(const std::string& path, unsigned mode) {
  return counted("makeDirectory", path, [&] { return real_.makeDirectory(path, mode); },
                 [&] { entryChanged(EntryChange::kMade, path, std::string(), Gone()); });
}

bool FaultyFileSystem::removeDirectory(const std::string& path) {
  const Gone gone = remember(path);
  return counted("removeDirectory", path, [&] { return real_.removeDirectory(path); },
                 [&] { entryChanged(EntryChange::kRemoved, path, std::string(), gone); });
}

bool FaultyFileSystem::listDirectory(const std::string& path, std::vector<DirectoryEntry>* entries) {
  return real_.listDirectory(path, entries);
}

void FaultyFileSystem::putBack(const std::string& path, const Gone& gone, bool dataLost) {
  struct stat info;
  if (!gone.present || ::lstat(path.c_str(), &info) == 0) return;
  if (S_ISDIR(gone.mode)) {
    ::mkdir(path.c_str(), gone.mode & 07777);
    ::chmod(path.c_str(), gone.mode & 07777);
  } else if (S_ISLNK(gone.mode)) {
    (void)!::symlink(gone.link.c_str(), path.c_str());
  } else if (S_ISREG(gone.mode)) {
    const bool durable = dataLost && gone.hasDurable;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return;
    writeWhole(fd, durable ? gone.durable : gone.bytes);
    ::fchmod(fd, durable ? gone.durableMode : gone.mode & 07777);
    ::close(fd);
  }
}

void FaultyFileSystem::undo(const EntryChange& change, bool dataLost) {
  if (change.kind == EntryChange::kMade) {
    removeTree(change.path, false);
  } else if (change.kind == EntryChange::kRenamed) {
    (void)!::rename(change.path.c_str(), change.from.c_str());
    putBack(change.path, change.gone, dataLost);
  } else {
    putBack(change.path, change.gone, dataLost);
  }
}

void FaultyFileSystem::losePower(CutPolicy policy, const std::string& lostPath) {
  struct stat info;
  const bool oneLost = policy == CutPolicy::kOneLost && ::stat(lostPath.c_str(), &info) == 0;
  const auto lost = [&](dev_t dev, bool data) {
    return policy == CutPolicy::kNoneKept || (policy == CutPolicy::kDataLost && data) ||
           (policy == CutPolicy::kEntriesLost && !data) || (oneLost && dev == info.st_dev);
  };
  for (auto change = entries_.rbegin(); change != entries_.rend(); ++change)
    if (lost(change->dev, false)) undo(*change, lost(change->dev, true));
  for (auto& file : files_) {
    if (!file.second.dirty || !lost(file.first.first, true) || file.second.shadow < 0) continue;
    (void)!::ftruncate(file.second.shadow, 0);
    writeWhole(file.second.shadow, file.second.durable);
    ::fchmod(file.second.shadow, file.second.durableMode);
  }
  entries_.clear();
}
