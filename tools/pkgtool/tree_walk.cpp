// Walking a directory tree for the files of a package.
#include "pkgtool/tree_walk.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

const char* fileTypeName(mode_t mode) {
  if (S_ISLNK(mode)) return "a symbolic link";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISFIFO(mode)) return "a named pipe";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

// Lists the entry names of one directory (without "." and "..").
bool listDirectory(const std::string& directory, std::vector<std::string>* names, std::string* error) {
  DIR* dir = opendir(directory.c_str());
  if (dir == nullptr) {
    *error = directory + ": cannot open directory: " + strerror(errno);
    return false;
  }
  errno = 0;
  while (dirent* entry = readdir(dir)) {
    if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0) names->push_back(entry->d_name);
    errno = 0;
  }
  bool ok = errno == 0;
  if (!ok) *error = directory + ": cannot read directory: " + strerror(errno);
  closedir(dir);
  return ok;
}

struct Walk {
  std::string root;
  std::vector<TreeFile>* files;
  std::vector<std::string>* emptyDirectories;
};

// Adds the files below root/prefix (prefix is "" or ends with "/").
bool walkDirectory(const Walk& walk, const std::string& prefix, std::string* error) {
  const std::string& root = walk.root;
  std::vector<std::string> names;
  if (!listDirectory(prefix.empty() ? root : root + "/" + prefix, &names, error)) return false;
  if (names.empty() && !prefix.empty() && walk.emptyDirectories != nullptr)
    walk.emptyDirectories->push_back(prefix.substr(0, prefix.size() - 1));
  for (const std::string& name : names) {
    std::string relative = prefix + name;
    std::string full = root + "/" + relative;
    struct stat st;
    if (lstat(full.c_str(), &st) != 0) {
      *error = full + ": " + strerror(errno);
      return false;
    }
    if (S_ISDIR(st.st_mode)) {
      if (!walkDirectory(walk, relative + "/", error)) return false;
    } else if (S_ISREG(st.st_mode)) {
      walk.files->push_back(TreeFile{relative, static_cast<uint32_t>(st.st_mode), static_cast<uint64_t>(st.st_size),
                                     static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)});
    } else {
      *error = full + ": " + fileTypeName(st.st_mode) + "; only regular files and directories can be packaged";
      return false;
    }
  }
  return true;
}

}  // namespace

bool walkTree(const std::string& root, std::vector<TreeFile>* files, std::string* error,
              std::vector<std::string>* emptyDirectories) {
  files->clear();
  struct stat st;
  if (stat(root.c_str(), &st) != 0) {
    *error = root + ": " + strerror(errno);
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    *error = root + ": not a directory";
    return false;
  }
  if (!walkDirectory(Walk{root, files, emptyDirectories}, "", error)) return false;
  // std::string compares as unsigned bytes: the order the records must have.
  std::sort(files->begin(), files->end(),
            [](const TreeFile& a, const TreeFile& b) { return a.path < b.path; });
  if (emptyDirectories != nullptr) std::sort(emptyDirectories->begin(), emptyDirectories->end());
  return true;
}
