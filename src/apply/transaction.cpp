#include "apply/transaction.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "apply/file_copy.h"
#include "apply/path_utils.h"
#include "apply/spinner.h"

namespace {

constexpr char kTemporarySuffix[] = "/tmpXXXXXX";
// The longest temporary path the board's staging code provides for.
constexpr size_t kMaxTemporaryPath = 127;

bool exists(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0;
}

// A base name as mkstemp makes it from "tmpXXXXXX".
bool isTemporaryName(const std::string& name) {
  if (name.size() != 9 || name.compare(0, 3, "tmp") != 0) return false;
  for (size_t i = 3; i < name.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) return false;
  }
  return true;
}

// An entry that a directory removal deletes: hidden entries keep their
// directory alive.
bool isRemovableEntry(const char* name) { return name[0] != '\0' && name[0] != '.'; }

// The failure state with errno kept: std::ofstream's own set-up may touch it.
std::ofstream failedStream(int error) {
  std::ofstream stream;
  stream.setstate(std::ios::failbit);
  errno = error;
  return stream;
}

}  // namespace

bool roomForStaging(uint32_t sizeHint, uint32_t blockSize, uint32_t freeBlocks) {
  uint32_t needed = sizeHint + sizeHint / 10;
  uint32_t available = blockSize * freeBlocks;
  return needed < available;
}

const StagedOp* Transaction::find(const std::string& destination) const {
  auto op = ops_.find(destination);
  return op == ops_.end() ? nullptr : &op->second;
}

// The staging rule: a replaced creation loses its temporary file.
void Transaction::stage(const std::string& destination, OpKind kind, std::string source) {
  auto op = ops_.find(destination);
  if (op == ops_.end()) {
    ops_.emplace(destination, StagedOp{kind, std::move(source)});
    return;
  }
  if (op->second.kind == OpKind::Create) ::unlink(op->second.source.c_str());
  op->second.kind = kind;
  op->second.source = std::move(source);
}

void Transaction::drop(OpMap::iterator op) {
  if (op->second.kind == OpKind::Create) ::unlink(op->second.source.c_str());
  ops_.erase(op);
}

// The first existing ancestor of the destination decides: its file system
// stages the content when it has room, otherwise the fallback directory does.
std::string Transaction::stagingDirFor(const std::string& destination, uint32_t sizeHint) const {
  if (sizeHint == 0) return fallbackDir_;
  std::string dir = parentDir(destination);
  for (;;) {
    struct statfs info;
    if (::statfs(dir.c_str(), &info) == 0) {
      bool room = roomForStaging(sizeHint, static_cast<uint32_t>(info.f_bsize),
                                 static_cast<uint32_t>(info.f_bfree));
      if (!room || dir.size() + strlen(kTemporarySuffix) > kMaxTemporaryPath) return fallbackDir_;
      return dir;
    }
    if (dir == "/" || dir == ".") return fallbackDir_;
    dir = parentDir(dir);
  }
}

std::ofstream Transaction::create(const std::string& destination, uint32_t sizeHint, uint32_t mode) {
  // 1.-2. Choose the staging directory.
  std::string temporary = stagingDirFor(destination, sizeHint) + kTemporarySuffix;
  // 3. Make the temporary file; without one nothing is staged.
  int fd = ::mkstemp(&temporary[0]);
  if (fd < 0) return failedStream(errno);
  ::close(fd);
  // 4. Give it its mode.
  if (mode != 0) ::chmod(temporary.c_str(), mode);
  // 5. Stage it.
  stage(destination, OpKind::Create, temporary);
  // 6. Hand the caller a stream on it.
  return std::ofstream(temporary, std::ios::binary | std::ios::trunc);
}

void Transaction::move(const std::string& source, const std::string& destination) {
  stage(destination, OpKind::Move, source);
}

void Transaction::link(const std::string& text, const std::string& destination) {
  stage(destination, OpKind::Link, text);
}

void Transaction::remove(const std::string& path) {
  if (exists(path)) {
    stage(path, OpKind::Remove, std::string());
    return;
  }
  auto op = ops_.find(path);
  if (op != ops_.end()) drop(op);
}

bool Transaction::keep(const std::string& path) {
  auto op = ops_.find(path);
  if (op != ops_.end()) {
    if (op->second.kind != OpKind::Remove) return false;
    ops_.erase(op);
  }
  struct stat info;
  return ::stat(path.c_str(), &info) != 0 || S_ISDIR(info.st_mode);
}

void Transaction::commit(bool spinner) { commit(spinner ? &processSpinner() : nullptr); }

void Transaction::commit(Spinner* spinner) {
  // 1. First pass: deletions and links, so that nothing a move brings into
  //    place is deleted afterwards.
  bool anyMove = false;
  for (const auto& [destination, op] : ops_) {
    if (op.kind == OpKind::Remove) commitRemove(destination);
    else if (op.kind == OpKind::Link) commitLink(destination, op.source);
    else anyMove = true;
  }
  // The content of every staged file is on stable storage before the first
  // rename puts one of them under its final name.
  if (anyMove) ::sync();
  // 2. Second pass: moves and creations.
  for (const auto& [destination, op] : ops_) {
    if (op.kind == OpKind::Move || op.kind == OpKind::Create) commitMove(destination, op.source, spinner);
  }
  ::sync();
}

// A directory loses its plain files and then itself, unless a hidden entry
// or a subdirectory keeps it.
void Transaction::commitRemove(const std::string& destination) const {
  if (::unlink(destination.c_str()) == 0 || errno != EISDIR) return;
  DIR* dir = ::opendir(destination.c_str());
  if (!dir) return;
  while (struct dirent* entry = ::readdir(dir)) {
    if (isRemovableEntry(entry->d_name)) ::unlink((destination + "/" + entry->d_name).c_str());
  }
  ::closedir(dir);
  ::rmdir(destination.c_str());
}

void Transaction::commitLink(const std::string& destination, const std::string& text) const {
  makeDirs(parentDir(destination));
  ::unlink(destination.c_str());
  if (::symlink(text.c_str(), destination.c_str()) != 0) ::perror("symlink");
}

void Transaction::commitMove(const std::string& destination, const std::string& source,
                             Spinner* spinner) const {
  makeDirs(parentDir(destination));
  if (::rename(source.c_str(), destination.c_str()) == 0) return;
  if (errno != EXDEV) {
    ::perror("rename");
    return;
  }
  // Across file systems the content is copied and the source stays.
  if (!copyFile(source, destination, spinner)) ::perror("copy");
}

void Transaction::cancel() {
  for (const auto& entry : ops_) {
    if (entry.second.kind == OpKind::Create) ::unlink(entry.second.source.c_str());
  }
  ops_.clear();
}

// A temporary file that create() made for `destination`: named as mkstemp
// names it, in the fallback directory or in an ancestor of the destination.
bool Transaction::isStagingFile(const std::string& source, const std::string& destination) const {
  if (!isTemporaryName(baseName(source))) return false;
  std::string dir = parentDir(source);
  if (dir == fallbackDir_) return true;
  for (std::string ancestor = parentDir(destination);; ancestor = parentDir(ancestor)) {
    if (ancestor == dir) return true;
    if (ancestor == "/" || ancestor == ".") return false;
  }
}

void Transaction::cancelSaved() {
  for (const auto& [destination, op] : ops_) {
    if (op.kind == OpKind::Move && isStagingFile(op.source, destination)) ::unlink(op.source.c_str());
  }
  cancel();
}
