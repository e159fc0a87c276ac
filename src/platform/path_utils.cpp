#include "platform/path_utils.h"

#include <algorithm>
#include <cerrno>

std::string parentDir(const std::string& path) {
  // Every trailing "/" is passed over: "/" itself has no name left.
  size_t end = path.size();
  while (end > 0 && path[end - 1] == '/') --end;
  // Without a "/" left there is no directory part.
  const size_t slash = end == 0 ? std::string::npos : path.rfind('/', end - 1);
  if (slash == std::string::npos) return ".";
  // Drop the last component and the slashes before it, keeping a root "/".
  end = slash;
  while (end > 0 && path[end - 1] == '/') --end;
  return end == 0 ? "/" : path.substr(0, end);
}

void makeDirs(FileSystem& fs, const std::string& path, std::vector<std::string>* made) {
  if (fs.makeDirectory(path, 0777)) {
    if (made != nullptr) made->push_back(path);
    return;
  }
  if (errno == EEXIST) return;
  std::string parent = parentDir(path);
  // "." and "/" always exist; recursing on them would not end.
  if (parent != path && parent != "." && parent != "/") makeDirs(fs, parent, made);
  if (fs.makeDirectory(path, 0777) && made != nullptr) made->push_back(path);
}

std::string baseName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool liesBelow(const std::string& path, const std::string& base) {
  if (path.size() <= base.size() || path.compare(0, base.size(), base) != 0) return false;
  for (size_t start = 0;;) {
    const size_t end = path.find('/', start);
    if (path.compare(start, end == std::string::npos ? std::string::npos : end - start, "..") == 0) return false;
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

bool missingBelow(const std::string& dir, const std::string& start, const std::string& home) {
  // Nothing was missing on a way that found `start` itself.
  if (start.size() <= home.size() || start.compare(0, home.size(), home) != 0) return false;
  // The directory `dir` and `start` share: their common part, cut back to
  // the last whole component.
  size_t shared = 0;
  const size_t limit = std::min(dir.size(), start.size());
  while (shared < limit && dir[shared] == start[shared]) ++shared;
  const bool whole = (shared == dir.size() || dir[shared] == '/') && (shared == start.size() || start[shared] == '/');
  if (!whole) {
    const size_t slash = shared == 0 ? std::string::npos : dir.rfind('/', shared - 1);
    shared = slash == std::string::npos ? 0 : slash;
  }
  return shared > home.size();
}
