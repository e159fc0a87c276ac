// A private scratch directory for one test, removed with everything in it.
#pragma once

#include <string>

class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + relative
  std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

 private:
  std::string path_;
};

// Writes a file (creating parent directories); returns false on failure.
bool writeFile(const std::string& path, const std::string& content);
// Reads a whole (small) test file; empty when it cannot be read.
std::string readFile(const std::string& path);
bool pathExists(const std::string& path);
