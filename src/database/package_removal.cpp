// Staging the removal of an installed package.
#include "database/package_removal.h"

#include <sys/stat.h>

#include <vector>

#include "database/package_database.h"
#include "model/board_paths.h"
#include "pkgfile/record_name.h"
#include "staging/transaction.h"

namespace {

// Files of the entry staged earlier in this run (a package installed and
// then uninstalled again) must not survive the entry's removal.
void removeStagedEntryFiles(Transaction& transaction, const std::string& directory) {
  std::vector<std::string> staged;
  for (auto op = transaction.begin(); op != transaction.end(); ++op) {
    if (op->first.size() > directory.size() && op->first.compare(0, directory.size(), directory) == 0)
      staged.push_back(op->first);
  }
  for (const std::string& path : staged) transaction.remove(path);
}

// Whether a package of another name lists the path: a file that moved to
// another package, or that two packages bring, belongs to the one that stays.
bool listedByAnother(Repository& repository, const Package& package, const std::string& recorded,
                     const Transaction& transaction) {
  for (const auto& other : repository.packages) {
    if (other->name != package.name &&
        installedFiles(*other, transaction.board(), &transaction).count(recorded) != 0)
      return true;
  }
  return false;
}

}  // namespace

std::vector<std::string> uninstallPackage(Package& package, Repository& repository, Transaction& transaction) {
  const BoardPaths& board = transaction.board();
  // The installed files, under the paths unpacking staged them with, so that
  // a removal also takes back a file staged earlier in the same run. A
  // damaged list must not reach beyond the flash.
  std::vector<std::string> refused;
  for (const std::string& recorded : installedFiles(package, board, &transaction)) {
    if (!isSafeRecordName(recorded)) {
      refused.push_back(recorded);
    } else if (!listedByAnother(repository, package, recorded, transaction)) {
      transaction.remove(board.installedFile(recorded));
    }
  }
  package.files.clear();

  // The database entry and its stored image. A record without a name (one
  // that only carries a conflict) has no entry; its directory path would be
  // the database itself.
  if (!package.name.empty()) {
    const std::string directory = board.entryDirectory(package.name);
    removeStagedEntryFiles(transaction, directory);
    transaction.remove(directory);
    transaction.remove(directory + "image");
  }

  // The boot image, unless another name still links to it.
  if (hasFlag(package.flags, PackageFlag::BootImage)) {
    const std::string bootImage = board.at(kBootImagePath);
    struct stat info;
    if (transaction.board().fs().status(bootImage, &info) && info.st_nlink == 1) transaction.remove(bootImage);
  }

  package.action = PackageAction::None;
  return refused;
}
