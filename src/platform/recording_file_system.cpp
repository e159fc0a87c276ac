#include "platform/recording_file_system.h"

#include <dirent.h>
#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/path_utils.h"

namespace {

// Links followed on the way to a file, at most, as the system allows.
constexpr int kMostLinks = 40;

// One name for each path: no doubled or trailing "/".
std::string normal(const std::string& path) {
  std::string out;
  for (char c : path)
    if (c != '/' || out.empty() || out.back() != '/') out += c;
  if (out.size() > 1 && out.back() == '/') out.pop_back();
  return out;
}

uint64_t blocksOf(uint64_t bytes, uint64_t blockSize) { return (bytes + blockSize - 1) / blockSize; }

unsigned char directoryType(unsigned mode) {
  return S_ISDIR(mode) ? DT_DIR : S_ISLNK(mode) ? DT_LNK : S_ISREG(mode) ? DT_REG : DT_UNKNOWN;
}

bool fail(int error) {
  errno = error;
  return false;
}

int failedOpen(int error) {
  errno = error;
  return -1;
}

}  // namespace

RecordingFileSystem::Entry& RecordingFileSystem::record(const std::string& path) {
  const auto found = entries_.find(path);
  if (found != entries_.end()) return found->second;
  Entry& entry = entries_[path];
  entry.existed = board_.status(real(path), &entry.old, false);
  if (entry.existed) {
    entry.node = std::make_shared<Node>();
    entry.node->mode = entry.old.st_mode;
    entry.node->size = static_cast<uint64_t>(entry.old.st_size);
    entry.node->device = entry.old.st_dev;
    entry.node->home = parentDir(path);
  }
  return entry;
}

bool RecordingFileSystem::look(const std::string& path, struct stat* info, bool followLinks, int depth) {
  const auto found = entries_.find(path);
  if (found == entries_.end()) return board_.status(real(path), info, followLinks);
  const Node* node = found->second.node.get();
  if (node == nullptr) return fail(ENOENT);
  if (S_ISLNK(node->mode) && followLinks) {
    if (depth >= kMostLinks) return fail(ELOOP);
    const std::string& text = node->text;
    return look(normal(text[0] == '/' ? text : parentDir(path) + "/" + text), info, true, depth + 1);
  }
  static const struct stat kBlank{};
  *info = found->second.existed ? found->second.old : kBlank;
  info->st_mode = node->mode;
  info->st_size = static_cast<off_t>(node->size);
  info->st_dev = node->device;
  info->st_nlink = 1;
  info->st_blocks = static_cast<blkcnt_t>(blocksOf(node->size, 512));
  return true;
}

std::shared_ptr<RecordingFileSystem::Node> RecordingFileSystem::createNode(const std::string& path, unsigned mode) {
  dev_t device;
  if (!parentOf(path, &device)) return nullptr;
  auto node = std::make_shared<Node>();
  node->mode = mode;
  node->device = device;
  record(path).node = node;
  return node;
}

bool RecordingFileSystem::parentOf(const std::string& path, dev_t* device) {
  struct stat info;
  if (!look(parentDir(path), &info, true)) return false;
  if (!S_ISDIR(info.st_mode)) return fail(ENOTDIR);
  *device = info.st_dev;
  return true;
}

RecordingFileSystem::Handle* RecordingFileSystem::handle(int fd) {
  const auto found = handles_.find(fd);
  return found == handles_.end() ? nullptr : &found->second;
}

int RecordingFileSystem::openHandle(std::shared_ptr<Node> node, int flags) {
  const bool writing = (flags & O_ACCMODE) != O_RDONLY;
  if (writing && (flags & O_TRUNC)) node->size = 0, node->written = true;
  handles_[nextHandle_] = Handle{std::move(node), 0, (flags & O_APPEND) != 0};
  return nextHandle_++;
}

int RecordingFileSystem::open(const std::string& name, int flags, unsigned mode) {
  const std::string path = normal(name);
  const bool writing = (flags & O_ACCMODE) != O_RDONLY || (flags & (O_CREAT | O_TRUNC));
  const auto found = entries_.find(path);
  // What the record has not touched is read on the board itself.
  if (!writing && found == entries_.end()) return board_.open(real(path), flags, mode);
  struct stat info;
  if (look(path, &info, false)) {
    if ((flags & O_CREAT) && (flags & O_EXCL)) return failedOpen(EEXIST);
    if (S_ISLNK(info.st_mode)) {
      if (flags & O_NOFOLLOW) return failedOpen(ELOOP);
      // A link of the record is followed here; one of the board, whose text
      // is not asked, only to be read.
      if (found == entries_.end()) return writing ? failedOpen(EROFS) : board_.open(real(path), flags, mode);
      if (!look(path, &info, true) && errno != ENOENT) return -1;
      const std::string& text = found->second.node->text;
      return open(text[0] == '/' ? text : parentDir(path) + "/" + text, flags, mode);
    }
    if (S_ISDIR(info.st_mode) && writing) return failedOpen(EISDIR);
    if (!writing && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) return board_.open(real(path), flags, mode);
    return openHandle(record(path).node, flags);
  }
  if (errno != ENOENT) return -1;
  if (!(flags & O_CREAT)) return failedOpen(ENOENT);
  const std::shared_ptr<Node> node = createNode(path, S_IFREG | (mode & 07777 & ~board_.creationMask()));
  if (!node) return -1;
  node->home = parentDir(path);
  node->written = true;
  return openHandle(node, flags);
}

ssize_t RecordingFileSystem::read(int fd, void* buffer, size_t size) {
  Handle* open = handle(fd);
  if (open == nullptr) return board_.read(fd, buffer, size);
  if (S_ISDIR(open->node->mode)) return failedOpen(EISDIR);
  const uint64_t left = open->node->size > open->offset ? open->node->size - open->offset : 0;
  const size_t count = static_cast<size_t>(std::min<uint64_t>(left, size));
  std::memset(buffer, 0, count);
  open->offset += count;
  return static_cast<ssize_t>(count);
}

bool RecordingFileSystem::write(int fd, const void*, size_t size) {
  Handle* open = handle(fd);
  if (open == nullptr || S_ISDIR(open->node->mode)) return fail(EBADF);
  Node& node = *open->node;
  if (open->append) open->offset = node.size;
  const uint64_t end = open->offset + size;
  struct statfs info;
  if (end > node.size && freeSpace(node.home, &info) && info.f_bsize > 0) {
    const uint64_t blockSize = static_cast<uint64_t>(info.f_bsize);
    if (blocksOf(end, blockSize) - blocksOf(node.size, blockSize) > info.f_bavail) return fail(ENOSPC);
  }
  open->offset = end;
  node.size = std::max(node.size, end);
  node.written = true;
  return true;
}

off_t RecordingFileSystem::seek(int fd, off_t offset, int whence) {
  Handle* open = handle(fd);
  if (open == nullptr) return board_.seek(fd, offset, whence);
  const int64_t base = whence == SEEK_SET   ? 0
                       : whence == SEEK_CUR ? static_cast<int64_t>(open->offset)
                                            : static_cast<int64_t>(open->node->size);
  if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) return failedOpen(EINVAL);
  if (base + offset < 0) return failedOpen(EINVAL);
  open->offset = static_cast<uint64_t>(base + offset);
  return static_cast<off_t>(open->offset);
}

bool RecordingFileSystem::truncate(int fd, off_t size) {
  Handle* open = handle(fd);
  if (open == nullptr || S_ISDIR(open->node->mode) || size < 0) return fail(open == nullptr ? EBADF : EINVAL);
  open->node->size = static_cast<uint64_t>(size);
  open->node->written = true;
  return true;
}

bool RecordingFileSystem::setMode(int fd, unsigned mode) {
  Handle* open = handle(fd);
  if (open == nullptr) return fail(EBADF);
  open->node->mode = (open->node->mode & S_IFMT) | (mode & 07777);
  return true;
}

bool RecordingFileSystem::fileStatus(int fd, struct stat* info) {
  Handle* open = handle(fd);
  if (open == nullptr) return board_.fileStatus(fd, info);
  *info = {};
  info->st_mode = open->node->mode;
  info->st_size = static_cast<off_t>(open->node->size);
  info->st_dev = open->node->device;
  info->st_nlink = 1;
  info->st_blocks = static_cast<blkcnt_t>(blocksOf(open->node->size, 512));
  return true;
}

bool RecordingFileSystem::syncFile(int fd) {
  struct stat info;
  return fileStatus(fd, &info);
}

bool RecordingFileSystem::close(int fd) {
  if (handles_.erase(fd) == 1) return true;
  return board_.close(fd);
}

bool RecordingFileSystem::status(const std::string& path, struct stat* info, bool followLinks) {
  return look(normal(path), info, followLinks);
}

bool RecordingFileSystem::freeSpace(const std::string& name, struct statfs* info) {
  const std::string path = normal(name);
  struct stat here;
  if (!look(path, &here, true)) return false;
  // A directory the record made lies on the file system of its parent.
  for (std::string at = path; !board_.freeSpace(real(at), info); at = parentDir(at))
    if (at == "/" || at == ".") return false;
  const uint64_t blockSize = info->f_bsize > 0 ? static_cast<uint64_t>(info->f_bsize) : 1;
  int64_t taken = 0;
  for (const auto& [recorded, entry] : entries_) {
    const struct stat& old = entry.old;
    // A file the board has goes when nothing else names it.
    if (entry.existed && old.st_dev == here.st_dev && !S_ISDIR(old.st_mode) && old.st_nlink == 1)
      taken -= static_cast<int64_t>(blocksOf(static_cast<uint64_t>(old.st_blocks) * 512, blockSize));
    const Node* node = entry.node.get();
    if (node != nullptr && node->device == here.st_dev && S_ISREG(node->mode))
      taken += static_cast<int64_t>(blocksOf(node->size, blockSize));
  }
  const auto less = [taken](auto blocks) {
    const int64_t left = static_cast<int64_t>(blocks) - taken;
    return static_cast<decltype(blocks)>(left < 0 ? 0 : left);
  };
  info->f_bfree = less(info->f_bfree);
  info->f_bavail = less(info->f_bavail);
  return true;
}

bool RecordingFileSystem::syncFileSystem(const std::string& path) {
  struct stat info;
  return look(normal(path), &info, true);
}

bool RecordingFileSystem::rename(const std::string& fromName, const std::string& toName) {
  const std::string from = normal(fromName), to = normal(toName);
  struct stat source, target;
  if (!look(from, &source, false)) return false;
  dev_t device;
  if (!parentOf(to, &device)) return false;
  if (S_ISDIR(source.st_mode) || source.st_dev != device) return fail(EXDEV);
  const bool replaces = look(to, &target, false);
  if (replaces && S_ISDIR(target.st_mode)) return fail(EISDIR);
  if (from == to) return true;
  std::shared_ptr<Node> moved = std::move(record(from).node);
  record(to).node = std::move(moved);
  return true;
}

bool RecordingFileSystem::symlink(const std::string& text, const std::string& name) {
  const std::string path = normal(name);
  struct stat info;
  if (look(path, &info, false)) return fail(EEXIST);
  const std::shared_ptr<Node> node = createNode(path, S_IFLNK | 0777);
  if (!node) return false;
  node->size = text.size();
  node->text = text;
  return true;
}

bool RecordingFileSystem::unlink(const std::string& name) {
  const std::string path = normal(name);
  struct stat info;
  if (!look(path, &info, false)) return false;
  if (S_ISDIR(info.st_mode)) return fail(EISDIR);
  record(path).node.reset();
  return true;
}

bool RecordingFileSystem::makeDirectory(const std::string& name, unsigned mode) {
  const std::string path = normal(name);
  struct stat info;
  if (look(path, &info, false)) return fail(EEXIST);
  return createNode(path, S_IFDIR | (mode & 07777 & ~board_.creationMask())) != nullptr;
}

bool RecordingFileSystem::removeDirectory(const std::string& name) {
  const std::string path = normal(name);
  struct stat info;
  if (!look(path, &info, false)) return false;
  if (!S_ISDIR(info.st_mode)) return fail(ENOTDIR);
  std::vector<DirectoryEntry> inside;
  if (!listDirectory(path, &inside)) return false;
  if (!inside.empty()) return fail(ENOTEMPTY);
  record(path).node.reset();
  return true;
}

bool RecordingFileSystem::listDirectory(const std::string& name, std::vector<DirectoryEntry>* entries) {
  const std::string path = normal(name);
  struct stat info;
  if (!look(path, &info, true)) return false;
  if (!S_ISDIR(info.st_mode)) return fail(ENOTDIR);
  entries->clear();
  // A directory the record made has no entries on the board.
  const auto own = entries_.find(path);
  const bool made = own != entries_.end() && (!own->second.existed || !S_ISDIR(own->second.old.st_mode));
  if (!made && !board_.listDirectory(real(path), entries)) return false;
  const std::string prefix = path == "/" ? path : path + "/";
  const auto recorded = [&](const std::string& child) { return entries_.find(prefix + child); };
  entries->erase(std::remove_if(entries->begin(), entries->end(),
                                [&](const DirectoryEntry& entry) {
                                  const auto found = recorded(entry.name);
                                  return found != entries_.end() && !found->second.node;
                                }),
                 entries->end());
  for (DirectoryEntry& entry : *entries) {
    const auto found = recorded(entry.name);
    if (found != entries_.end()) entry.type = directoryType(found->second.node->mode);
  }
  for (auto it = entries_.lower_bound(prefix); it != entries_.end(); ++it) {
    const std::string& child = it->first;
    if (child.compare(0, prefix.size(), prefix) != 0) break;
    if (!it->second.node || it->second.existed || child.find('/', prefix.size()) != std::string::npos) continue;
    entries->push_back(DirectoryEntry{child.substr(prefix.size()), directoryType(it->second.node->mode)});
  }
  return true;
}

std::vector<RecordedChange> RecordingFileSystem::changes() const {
  std::vector<RecordedChange> changes;
  for (const auto& [path, entry] : entries_) {
    const Node* node = entry.node.get();
    if (node == nullptr) {
      if (entry.existed) changes.push_back({'-', path, entry.old.st_mode, static_cast<uint64_t>(entry.old.st_size), ""});
      continue;
    }
    const bool same = entry.existed && !node->written && node->mode == entry.old.st_mode &&
                      (S_ISDIR(node->mode) || node->size == static_cast<uint64_t>(entry.old.st_size));
    if (!same) changes.push_back({entry.existed ? '~' : '+', path, node->mode, node->size, node->text});
  }
  return changes;
}
