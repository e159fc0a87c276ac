#include "platform/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_io.h"

int PosixFileSystem::open(const std::string& path, int flags, unsigned mode) {
  int fd;
  do fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
  while (fd < 0 && errno == EINTR);
  return fd;
}

ssize_t PosixFileSystem::read(int fd, void* buffer, size_t size) { return readSome(fd, buffer, size); }

bool PosixFileSystem::write(int fd, const void* data, size_t size) { return writeAll(fd, data, size); }

off_t PosixFileSystem::seek(int fd, off_t offset, int whence) { return ::lseek(fd, offset, whence); }

bool PosixFileSystem::truncate(int fd, off_t size) { return ::ftruncate(fd, size) == 0; }

bool PosixFileSystem::setMode(int fd, unsigned mode) { return ::fchmod(fd, mode) == 0; }

// umask(2) only tells the mask by replacing it: put back at once.
unsigned PosixFileSystem::creationMask() {
  if (creationMask_ < 0) {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    creationMask_ = static_cast<int>(mask & 0777);
  }
  return static_cast<unsigned>(creationMask_);
}

bool PosixFileSystem::fileStatus(int fd, struct stat* info) { return ::fstat(fd, info) == 0; }

bool PosixFileSystem::syncFile(int fd) { return ::fsync(fd) == 0; }

bool PosixFileSystem::syncData(int fd) { return ::fdatasync(fd) == 0; }

bool PosixFileSystem::close(int fd) {
  // Linux releases the descriptor even when close reports EINTR: never retry.
  return ::close(fd) == 0;
}

bool PosixFileSystem::status(const std::string& path, struct stat* info, bool followLinks) {
  return (followLinks ? ::stat(path.c_str(), info) : ::lstat(path.c_str(), info)) == 0;
}

bool PosixFileSystem::freeSpace(const std::string& path, struct statfs* info) {
  return ::statfs(path.c_str(), info) == 0;
}

bool PosixFileSystem::syncFileSystem(const std::string& path) {
  // Without waiting on whatever may stand there instead of a directory.
  const int fd = open(path, O_RDONLY | O_NONBLOCK, 0);
  if (fd < 0) return false;
  const bool synced = ::syncfs(fd) == 0;
  const int error = errno;
  ::close(fd);
  errno = error;
  return synced;
}

bool PosixFileSystem::rename(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

bool PosixFileSystem::symlink(const std::string& text, const std::string& path) {
  return ::symlink(text.c_str(), path.c_str()) == 0;
}

bool PosixFileSystem::unlink(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool PosixFileSystem::makeDirectory(const std::string& path, unsigned mode) {
  return ::mkdir(path.c_str(), mode) == 0;
}

bool PosixFileSystem::removeDirectory(const std::string& path) { return ::rmdir(path.c_str()) == 0; }

bool PosixFileSystem::listDirectory(const std::string& path, std::vector<DirectoryEntry>* entries) {
  entries->clear();
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return false;
  errno = 0;
  while (const struct dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") entries->push_back(DirectoryEntry{name, entry->d_type});
  }
  const int error = errno;
  ::closedir(dir);
  errno = error;
  return error == 0;
}

bool syncDirectory(FileSystem& fs, const std::string& path) {
  const int fd = fs.open(path, O_RDONLY | O_DIRECTORY, 0);
  if (fd < 0) return false;
  const bool synced = fs.syncFile(fd);
  const int error = errno;
  fs.close(fd);
  errno = error;
  return synced;
}
