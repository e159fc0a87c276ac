// Loading a board's installed packages for pkgtool's queries.
#include "pkgtool/board_query.h"

#include <dirent.h>

#include <cerrno>
#include <cstring>

#include "database/installed_packages.h"
#include "database/package_database.h"

std::string boardRoot(const std::string& option) {
  std::string root = option;
  while (!root.empty() && root.back() == '/') root.pop_back();
  return root;
}

bool loadBoard(const std::string& root, Repository* repository, std::string* error) {
  const std::string database = root + "/flash/var/pdb";
  DIR* dir = opendir(database.c_str());
  if (dir == nullptr) {
    *error = database + ": no package database: " + strerror(errno);
    return false;
  }
  closedir(dir);
  repository->architecture.clear();
  static PosixFileSystem fs;
  const BoardPaths board(fs, root);
  loadInstalled(*repository, board);
  // Every query may tell the files; a run reads them only when it removes.
  for (const auto& package : repository->packages) installedFiles(*package, board);
  return true;
}
