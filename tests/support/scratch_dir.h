// A private scratch directory for one test, removed with all it holds, and the file helpers tests share.
#pragma once
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path(ignored_) / "installer-test-XXXXXX").string();
    if (::mkdtemp(&pattern[0])) path_ = pattern;
  }
  ~ScratchDir() { std::filesystem::remove_all(path_, ignored_); }
  ScratchDir(ScratchDir&&) = delete;  // and so neither copied nor assigned
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }
 private:
  std::string path_;
  std::error_code ignored_;
};

inline bool writeFile(const std::string& path, const std::string& content) {  // makes the parents
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
  return !(std::ofstream(path, std::ios::binary) << content).flush().fail();
}
inline std::string readFile(const std::string& path) {  // empty when it cannot be read
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
// `text` with every `from` replaced by `to`.
inline std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}
// Board paths below `root`: `root` goes before each "/" that begins a line or follows a blank.
inline std::string rooted(const std::string& text, const std::string& root) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '/' && (i == 0 || text[i - 1] == ' ' || text[i - 1] == '\n')) out += root;
    out += text[i];
  }
  return out;
}
// The tree below `root` in path order: "path=content" ("@mode" before "=" unless 0644), "path/", "path>link".
inline std::string tree(const std::string& root) {
  std::map<std::string, std::string> words;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    struct stat info;
    ::lstat(entry.path().c_str(), &info);
    std::ostringstream word;
    if (S_ISLNK(info.st_mode)) word << '>' << std::filesystem::read_symlink(entry.path()).string();
    else if (S_ISDIR(info.st_mode)) word << '/';
    else if ((info.st_mode & 07777) != 0644) word << '@' << std::oct << (info.st_mode & 07777);
    if (S_ISREG(info.st_mode)) word << '=' << readFile(entry.path());
    words[entry.path().string().substr(root.size() + 1)] = word.str();
  }
  std::string text;
  for (const auto& [path, word] : words) text += (text.empty() ? "" : " ") + path + word;
  return text;
}
