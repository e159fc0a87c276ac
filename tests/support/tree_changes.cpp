#include "support/tree_changes.h"

#include <algorithm>
#include <cstdio>

#include "support/entry_notation.h"
#include "support/packaging_tool.h"
#include "support/scenario_text.h"

namespace {

std::string pathToken(const std::string& path) {
  std::string out;
  for (char c : escape(path)) out += c == ' ' ? std::string("\\x20") : std::string(1, c);
  return out;
}

std::string modeWord(unsigned mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", mode & 07777);
  return text;
}

bool parseMode(const std::string& word, unsigned* mode) {
  if (word.size() != 4 || word.find_first_not_of("01234567") != std::string::npos) return false;
  *mode = 0;
  for (char digit : word) *mode = *mode * 8 + static_cast<unsigned>(digit - '0');
  return true;
}

constexpr char kDatabaseDir[] = "/flash/var/pdb/";

std::string entryName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

bool isEntryDirectory(const std::string& path) {
  return path.compare(0, sizeof kDatabaseDir - 1, kDatabaseDir) == 0 &&
         path.find('/', sizeof kDatabaseDir - 1) == std::string::npos;
}

// The canonical words of an entry, or "" when the words give no entry.
std::string canonicalEntryWords(const std::string& path, const std::string& words) {
  std::vector<PackageState> states;
  NotationError error;
  std::string canonical;
  if (!parsePackageStates(entryName(path) + " " + words, &states, &error, kTestBuildTime) || states.size() != 1 ||
      !entryWords(entryName(path), entryFiles(states[0]), kTestBuildTime, &canonical))
    return std::string();
  return canonical;
}

// Folds the files of the new entry at changes[at] into it when the package
// notation gives them exactly; `folded` marks the changes it took.
void foldEntry(std::vector<TreeChange>& changes, size_t at, std::vector<bool>* folded) {
  const std::string prefix = changes[at].path + "/";
  std::map<std::string, std::string> files;
  std::vector<size_t> taken;
  for (size_t i = at + 1; i < changes.size(); ++i) {
    const TreeChange& file = changes[i];
    if (file.path.compare(0, prefix.size(), prefix) != 0) continue;
    if (file.op != '+' || file.entry.type != TreeEntry::File || file.entry.mode != 0600 ||
        file.path.find('/', prefix.size()) != std::string::npos)
      return;
    files[file.path.substr(prefix.size())] = file.entry.data;
    taken.push_back(i);
  }
  if (!entryWords(entryName(changes[at].path), files, kTestBuildTime, &changes[at].entryWords)) {
    changes[at].entryWords.clear();
    return;
  }
  for (size_t i : taken) (*folded)[i] = true;
}

bool belowRemovedDirectory(const std::string& path, const std::set<std::string>& removed) {
  for (size_t slash = path.rfind('/'); slash != std::string::npos && slash > 0; slash = path.rfind('/', slash - 1))
    if (removed.count(path.substr(0, slash))) return true;
  return false;
}

// Reads what follows the path: "-> TARGET", or a mode and then, for a file,
// its content and, for a pipe, socket or device, "other".
bool parseTail(const std::string& tail, ExpectedChange* change, std::string* error) {
  if (tail.compare(0, 3, "-> ") == 0 && change->type == TreeEntry::File) {
    change->type = TreeEntry::Link;
    return parseExpectedContent(tail.substr(3), &change->content, error);
  }
  if (!parseMode(tail.substr(0, 4), &change->mode) || (tail.size() > 4 && tail[4] != ' '))
    return *error = "expected a mode (0644) or \"-> TARGET\" after the path", false;
  const std::string rest = tail.size() > 5 ? tail.substr(5) : std::string();
  if (change->type == TreeEntry::Directory && rest.compare(0, 6, "entry ") == 0) {
    change->entryWords = rest.substr(6);
    std::vector<PackageState> states;
    NotationError notation;
    if (parsePackageStates(entryName(change->path) + " " + change->entryWords, &states, &notation) &&
        states.size() == 1)
      return true;
    return *error = "entry: " + notation.what, false;
  }
  if (change->type == TreeEntry::Directory) {
    if (rest.empty()) return true;
    return *error = "a directory line ends after its mode (or \"entry\" and a package's notation)", false;
  }
  if (rest == "other") return change->type = TreeEntry::Other, true;
  if (rest.empty()) return *error = "expected a content after the mode", false;
  return parseExpectedContent(rest, &change->content, error);
}

bool isTemporaryName(const std::string& name) {
  if (name.size() != 9 || name.compare(0, 3, "tmp") != 0) return false;
  for (size_t i = 3; i < 9; ++i) {
    const char c = name[i];
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
  }
  return true;
}

// Sorts before every "~" key: the file's place in path order and the offset.
std::string orderKey(size_t file, size_t offset) {
  char key[32];
  std::snprintf(key, sizeof key, "%010zu %010zu", file, offset);
  return key;
}

template <typename Visit>
void forEachComponent(const std::string& path, Visit visit) {
  for (size_t start = 1; start <= path.size();) {
    const size_t end = path.find('/', start);
    visit(path.substr(start, end == std::string::npos ? std::string::npos : end - start));
    start = end == std::string::npos ? path.size() + 1 : end + 1;
  }
}

}  // namespace

std::vector<TreeChange> treeChanges(const TreeSnapshot& before, const TreeSnapshot& after) {
  std::vector<TreeChange> changes;
  auto b = before.begin();
  auto a = after.begin();
  while (b != before.end() || a != after.end()) {
    if (a == after.end() || (b != before.end() && b->first < a->first)) {
      changes.push_back({'-', b->first, b->second, ""});
      ++b;
    } else if (b == before.end() || a->first < b->first) {
      changes.push_back({'+', a->first, a->second, ""});
      ++a;
    } else {
      if (a->second != b->second) changes.push_back({'~', a->first, a->second, ""});
      ++a;
      ++b;
    }
  }
  std::vector<bool> folded(changes.size(), false);
  std::set<std::string> removed;
  for (size_t i = 0; i < changes.size(); ++i) {
    const TreeChange& change = changes[i];
    if (change.op == '-' && change.entry.type == TreeEntry::Directory) removed.insert(change.path);
    if (change.op == '-' && belowRemovedDirectory(change.path, removed)) folded[i] = true;
    if (change.op == '+' && change.entry.type == TreeEntry::Directory && isEntryDirectory(change.path))
      foldEntry(changes, i, &folded);
  }
  std::vector<TreeChange> kept;
  for (size_t i = 0; i < changes.size(); ++i)
    if (!folded[i]) kept.push_back(changes[i]);
  return kept;
}

std::string changeLine(const TreeChange& change, const NamedPackages& packages) {
  const std::string head = std::string(1, change.op) + " " + pathToken(change.path);
  const TreeEntry& entry = change.entry;
  if (change.op == '-') return head + (entry.type == TreeEntry::Directory ? "/" : "");
  if (!change.entryWords.empty()) return head + "/ " + modeWord(entry.mode) + " entry " + change.entryWords;
  switch (entry.type) {
    case TreeEntry::Directory:
      return head + "/ " + modeWord(entry.mode);
    case TreeEntry::Link:
      return head + " -> \"" + escape(entry.data, true) + "\"";
    case TreeEntry::Other:
      return head + " " + modeWord(entry.mode) + " other";
    case TreeEntry::File:
      break;
  }
  return head + " " + modeWord(entry.mode) + " " + describeContent(entry.data, packages);
}

bool parseChangeLine(const std::string& line, ExpectedChange* change, std::string* error) {
  if (line.size() < 3 || line[1] != ' ' || line[2] != '/')
    return *error = "a change line is \"+ PATH ...\", \"~ PATH ...\" or \"- PATH\"", false;
  change->op = line[0];
  const size_t end = line.find(' ', 2);
  std::string token = line.substr(2, end == std::string::npos ? std::string::npos : end - 2);
  if (token.size() > 1 && token.back() == '/') {
    change->type = TreeEntry::Directory;
    token.pop_back();
  }
  if (!unescape(token, &change->path, error)) return false;
  if (change->op == '-') {
    if (end == std::string::npos) return true;
    return *error = "a removal line ends after its path", false;
  }
  return parseTail(end == std::string::npos ? std::string() : line.substr(end + 1), change, error);
}

bool changeMatches(const ExpectedChange& expected, const TreeChange& actual, const PackageBytes& packages) {
  const TreeEntry& entry = actual.entry;
  if (expected.op != actual.op || expected.path != actual.path) return false;
  if (actual.op == '-') return (expected.type == TreeEntry::Directory) == (entry.type == TreeEntry::Directory);
  if (expected.type != entry.type || expected.mode != entry.mode) return false;
  if (!expected.entryWords.empty() || !actual.entryWords.empty())
    return !actual.entryWords.empty() && canonicalEntryWords(actual.path, expected.entryWords) == actual.entryWords;
  if (entry.type == TreeEntry::File || entry.type == TreeEntry::Link)
    return contentMatches(expected.content, entry.data, packages);
  return true;
}

void TemporaryNames::noteBefore(const TreeSnapshot& before) {
  for (const auto& entry : before)
    forEachComponent(entry.first, [this](const std::string& name) {
      if (isTemporaryName(name) && !numbered_.count(name)) scenarios_.insert(name);
    });
}

// Random names sort at random, so they are numbered in an order that does
// not depend on them: first as contents (the manifest) mention them, then
// the rest by directory, content and mode.
void TemporaryNames::noteAfter(const TreeSnapshot& after) {
  std::set<std::string> fresh;
  for (const auto& entry : after)
    forEachComponent(entry.first, [&](const std::string& name) {
      if (isTemporaryName(name) && !scenarios_.count(name) && !numbered_.count(name)) fresh.insert(name);
    });
  std::vector<std::pair<std::string, std::string>> order;  // (key, name)
  size_t file = 0;
  for (const auto& [path, entry] : after) {
    ++file;
    for (const std::string& name : fresh) {
      const size_t at = entry.data.find(name);
      if (at != std::string::npos) order.push_back({orderKey(file, at), name});
    }
  }
  for (const auto& [path, entry] : after) {
    const std::string name = path.substr(path.rfind('/') + 1);
    if (fresh.count(name))
      order.push_back(
          {"~" + path.substr(0, path.size() - name.size()) + '\0' + entry.data + '\0' + std::to_string(entry.mode),
           name});
  }
  std::sort(order.begin(), order.end());
  for (const auto& entry : order)
    if (!numbered_.count(entry.second)) numbered_[entry.second] = "tmp#" + std::to_string(numbered_.size() + 1);
}

std::string TemporaryNames::apply(const std::string& text) const {
  std::string out = text;
  for (const auto& [name, number] : numbered_)
    for (size_t at = out.find(name); at != std::string::npos; at = out.find(name, at + number.size()))
      out.replace(at, name.size(), number);
  return out;
}

TreeSnapshot TemporaryNames::apply(const TreeSnapshot& snapshot) const {
  if (numbered_.empty()) return snapshot;
  TreeSnapshot out;
  for (const auto& [path, entry] : snapshot) {
    TreeEntry renamed = entry;
    renamed.data = apply(entry.data);
    out[apply(path)] = renamed;
  }
  return out;
}
