// Staging the removal of an installed package.
#include "database/package_removal.h"

#include <sys/stat.h>

#include <vector>

#include "model/board_paths.h"
#include "staging/transaction.h"
#include "database/package_database.h"
#include "model/relations.h"
#include "pkgfile/record_name.h"
#include "model/console.h"

namespace {

constexpr char kFlashRoot[] = "/flash";

// The destination of an installed file: the flash root followed by the
// recorded path, which begins with "/". This is the path under which
// unpacking staged the file, so a removal also takes back a file staged
// earlier in the same run.
std::string installedPath(const std::string& root, const std::string& recorded) {
  std::string path = root + kFlashRoot;
  if (recorded.empty() || recorded[0] != '/') path += '/';
  return path + recorded;
}

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

}  // namespace

void uninstallPackage(Repository& repository, Package& package, Transaction& transaction,
                      const std::string& root) {
  // The installed files: a damaged list must not reach beyond the flash.
  for (const std::string& recorded : package.files) {
    if (isSafeRecordName(recorded)) {
      transaction.remove(installedPath(root, recorded));
    } else {
      reportWarning(repository, "not removing %s of %s: it names no file below /flash", recorded.c_str(),
                    packageTitle(package).c_str());
    }
  }
  package.files.clear();

  // The database entry and its stored image. A record without a name
  //    (one that only carries a conflict) has no entry; its directory path
  //    would be the database itself.
  if (!package.name.empty()) {
    const std::string directory = entryDirectory(package.name, root);
    removeStagedEntryFiles(transaction, directory);
    transaction.remove(directory);
    transaction.remove(directory + "image");
  }

  // The boot image, unless another name still links to it.
  if (package.flags & BootImage) {
    const std::string bootImage = root + kBootImagePath;
    struct stat info;
    if (stat(bootImage.c_str(), &info) == 0 && info.st_nlink == 1) transaction.remove(bootImage);
  }

  package.action = None;
}
