#include "support/scratch_dir.h"

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

int removeEntry(const char* path, const struct stat*, int, struct FTW*) {
  return ::remove(path);
}

void makeParents(const std::string& path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
    ::mkdir(path.substr(0, slash).c_str(), 0777);
}

}  // namespace

ScratchDir::ScratchDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/installer-test-XXXXXX";
  char* made = ::mkdtemp(&pattern[0]);
  path_ = made ? made : "";
}

ScratchDir::~ScratchDir() {
  if (!path_.empty()) ::nftw(path_.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

bool writeFile(const std::string& path, const std::string& content) {
  makeParents(path);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  out.close();
  return !out.fail();
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

bool pathExists(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0;
}
