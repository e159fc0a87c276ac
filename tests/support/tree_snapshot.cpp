#include "support/tree_snapshot.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <vector>

#include "support/scratch_dir.h"

namespace {

constexpr size_t kShownBytes = 48;

std::string readLink(const std::string& path) {
  std::vector<char> buffer(4096);
  ssize_t length = ::readlink(path.c_str(), buffer.data(), buffer.size());
  return length < 0 ? std::string() : std::string(buffer.data(), static_cast<size_t>(length));
}

void walk(const std::string& root, const std::string& relative, const std::set<std::string>& excluded,
          TreeSnapshot& snapshot) {
  DIR* dir = ::opendir((root + relative).c_str());
  if (!dir) return;
  std::vector<std::string> names;
  while (struct dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (relative.empty() && excluded.count(name)) continue;
    names.push_back(name);
  }
  ::closedir(dir);
  for (const std::string& name : names) {
    std::string path = relative + "/" + name;
    struct stat info;
    if (::lstat((root + path).c_str(), &info) != 0) continue;
    TreeEntry entry;
    if (S_ISLNK(info.st_mode)) {
      entry.type = TreeEntry::Link;
      entry.data = readLink(root + path);
    } else {
      entry.mode = info.st_mode & 07777;
      if (S_ISREG(info.st_mode)) entry.data = readFile(root + path);
      entry.type = S_ISREG(info.st_mode) ? TreeEntry::File
                   : S_ISDIR(info.st_mode) ? TreeEntry::Directory
                                           : TreeEntry::Other;
    }
    snapshot[path] = entry;
    if (entry.type == TreeEntry::Directory) walk(root, path, excluded, snapshot);
  }
}

std::string quoted(const std::string& data) {
  std::string out = "\"";
  for (size_t i = 0; i < data.size() && i < kShownBytes; ++i) {
    unsigned char c = static_cast<unsigned char>(data[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      out += escaped;
    }
  }
  return out + (data.size() > kShownBytes ? "\"..." : "\"");
}

std::string describe(const TreeEntry& entry) {
  char mode[16];
  std::snprintf(mode, sizeof mode, "%04o", entry.mode);
  switch (entry.type) {
    case TreeEntry::File:
      return std::string("file ") + mode + ", " + std::to_string(entry.data.size()) + " bytes " + quoted(entry.data);
    case TreeEntry::Directory: return std::string("directory ") + mode;
    case TreeEntry::Link: return "link to " + quoted(entry.data);
    case TreeEntry::Other: return std::string("special file ") + mode;
  }
  return "?";
}

}  // namespace

TreeSnapshot snapshotTree(const std::string& root, const std::set<std::string>& excluded) {
  TreeSnapshot snapshot;
  walk(root, "", excluded, snapshot);
  return snapshot;
}

std::string diffSnapshots(const TreeSnapshot& expected, const TreeSnapshot& actual) {
  std::ostringstream out;
  auto e = expected.begin();
  auto a = actual.begin();
  while (e != expected.end() || a != actual.end()) {
    if (a == actual.end() || (e != expected.end() && e->first < a->first)) {
      out << e->first << ": missing, expected " << describe(e->second) << "\n";
      ++e;
    } else if (e == expected.end() || a->first < e->first) {
      out << a->first << ": unexpected " << describe(a->second) << "\n";
      ++a;
    } else {
      if (e->second != a->second)
        out << e->first << ": expected " << describe(e->second) << "\n" << std::string(e->first.size(), ' ')
            << "  but is " << describe(a->second) << "\n";
      ++e;
      ++a;
    }
  }
  return out.str();
}

TreeEntry fileEntry(const std::string& content, unsigned mode) { return {TreeEntry::File, mode, content}; }
TreeEntry directoryEntry(unsigned mode) { return {TreeEntry::Directory, mode, std::string()}; }
TreeEntry linkEntry(const std::string& text) { return {TreeEntry::Link, 0, text}; }
