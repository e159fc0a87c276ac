// Snapshots of a directory tree (paths, types, permission bits, file
// contents, link texts) and a readable difference between two of them, for
// comparing a whole board before and after a run.
#pragma once

#include <map>
#include <set>
#include <string>

struct TreeEntry {
  enum Type { File, Directory, Link, Other };
  Type type = File;
  unsigned mode = 0;  // permission bits (07777); 0 for links
  std::string data;   // file content or link text

  bool operator==(const TreeEntry& other) const {
    return type == other.type && mode == other.mode && data == other.data;
  }
  bool operator!=(const TreeEntry& other) const { return !(*this == other); }
};

// Keyed by path below the root, each beginning with "/"; the root itself is
// not an entry.
using TreeSnapshot = std::map<std::string, TreeEntry>;

// Walks `root` without following links. Top-level names in `excluded` are
// left out with everything below them.
TreeSnapshot snapshotTree(const std::string& root, const std::set<std::string>& excluded = {});

// One line per path that differs; empty when the snapshots are equal.
std::string diffSnapshots(const TreeSnapshot& expected, const TreeSnapshot& actual);

TreeEntry fileEntry(const std::string& content, unsigned mode = 0644);
TreeEntry directoryEntry(unsigned mode = 0755);
TreeEntry linkEntry(const std::string& text);
