// Arbitrary bytes as the files a board keeps between runs: the commit journal,
// the saved manifest, the record of staged files, a schedule word and every
// file of a database entry, on a scratch board at $TMPDIR/board (a fixed place:
// the journal and the manifest name the paths they act on). A run's work is
// done with them: recovery, loading the database, listing the entry's files and
// committing the manifest. Nothing may crash, hang, read out of bounds or
// change anything outside /flash and /ram.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "database/installed_packages.h"
#include "database/package_database.h"
#include "model/repository.h"
#include "staging/transaction.h"

namespace {

// Where each piece of the input goes, in order; the pieces are separated by
// the byte 0x1e, and a piece that is not there leaves its file out.
const char* const kPieces[] = {
    "/flash/.journal",          "/ram/MANIFEST",           "/flash/.staged",           "/ram/pdb/p/schedule",
    "/flash/var/pdb/p/version", "/flash/var/pdb/p/deps",   "/flash/var/pdb/p/provides", "/flash/var/pdb/p/conflicts",
    "/flash/var/pdb/p/files",   "/flash/var/pdb/p/bundle", "/flash/var/pdb/p/disabled", "/flash/var/pdb/p/enabled",
    "/flash/var/pdb/p/image",
};
const char* const kDirectories[] = {"/flash", "/flash/boot", "/flash/var", "/flash/var/pdb", "/flash/var/pdb/p",
                                    "/flash/bin", "/ram", "/ram/pdb", "/ram/pdb/p", "/rw"};

void removeTree(const std::string& path) {
  if (DIR* dir = opendir(path.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") removeTree(path + "/" + name);
    }
    closedir(dir);
    rmdir(path.c_str());
  } else {
    unlink(path.c_str());
  }
}

const std::string& boardRoot() {
  static const std::string root = [] {
    const char* tmp = std::getenv("TMPDIR");
    const std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/board";
    if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) std::abort();
    return path;
  }();
  return root;
}

bool exists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& root = boardRoot();
  for (const char* top : {"/flash", "/ram", "/rw"}) removeTree(root + top);
  for (const char* dir : kDirectories) mkdir((root + dir).c_str(), 0755);
  // What lies outside /flash and /ram, which nothing may reach.
  std::ofstream(root + "/rw/sentinel") << "keep\n";
  // Installed and staged files for the journal and the manifest to act on.
  for (const char* path : {"/flash/bin/tool", "/flash/old", "/flash/bin/.tmpAbCdEf", "/flash/tmpAbc123",
                           "/ram/tmpBlAnK1", "/ram/tmpQwErTy"})
    std::ofstream(root + path) << path << "\n";
  const std::string input(reinterpret_cast<const char*>(data), size);
  size_t start = 0;
  for (const char* path : kPieces) {
    if (start > input.size()) break;
    const size_t end = std::min(input.find('\x1e', start), input.size());
    std::ofstream(root + path, std::ios::binary) << input.substr(start, end - start);
    start = end + 1;
  }

  static PosixFileSystem fs;
  const BoardPaths board(fs, root);
  CommitFailure stuck;
  recoverInterruptedRun(board, &stuck);
  Repository repository;
  loadInstalled(repository, board);
  for (const auto& package : repository.packages) installedFiles(*package, board);
  Transaction manifest(board);
  if (manifest.load(board.at(kManifestPath))) manifest.commit(nullptr);
  if (!exists(root + "/rw/sentinel") || !exists(root)) std::abort();
  return 0;
}
