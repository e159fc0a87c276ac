// Loading the installed packages. Nothing is staged or written here.
#include "database/installed_packages.h"

#include <dirent.h>
#include <sys/stat.h>

#include <memory>
#include <set>

#include "database/package_database.h"
#include "model/relations.h"
#include "pkgfile/package_header.h"
#include "pkgfile/package_stream.h"
#include "platform/file_source.h"

namespace {

const char* const kImageFile = "image";

// The parts a stored image is read for, in the order they are accepted.
const uint32_t kStoredImageParts[] = {
    kBundleHeaderPart, kPackageHeaderPart, kRecord24TextPart, kDescriptionPart,
    kDependsPart,      kProvidesPart,      kConflictsPart,
};

// The entries of the package database directory, hidden ones left out.
// Closes the directory when it goes.
class DatabaseDir {
 public:
  explicit DatabaseDir(const BoardPaths& board) : path_(board.at(kDatabaseDir)), dir_(::opendir(path_.c_str())) {}
  ~DatabaseDir() {
    if (dir_) ::closedir(dir_);
  }
  DatabaseDir(const DatabaseDir&) = delete;
  DatabaseDir& operator=(const DatabaseDir&) = delete;

  bool isOpen() const { return dir_ != nullptr; }

  // The next package entry, or false at the end. Only directories are
  // package entries: a stray file (a stored image left behind by a failed
  // run, say) would otherwise stand as a package that nothing can remove. A
  // link to a directory counts, so only a link, or an entry whose type the
  // file system does not tell, is asked about.
  bool next(std::string* name) {
    while (struct dirent* entry = ::readdir(dir_)) {
      if (entry->d_name[0] == '.') continue;
      if (entry->d_type != DT_DIR) {
        struct stat info;
        const bool mayBeDirectory = entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN;
        if (!mayBeDirectory || ::stat((path_ + entry->d_name).c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
          continue;
      }
      *name = entry->d_name;
      return true;
    }
    return false;
  }

 private:
  std::string path_;
  DIR* dir_;
};

// A bundle image: the bundle header, then every member header
// after it, each member naming the bundle. A member whose header could not
// be read ends the loop (a cut header leaves the stream where it was); it is
// kept only as far as it got a name.
void readBundleImage(Repository& repository, Package& bundle, PackageStream& stream) {
  readPackageHeader(bundle, stream);
  const Dependency reference = bundleReference(bundle);
  while (stream.partType() == kPackageHeaderPart) {
    auto member = std::make_unique<Package>();
    const bool complete = readPackageHeader(*member, stream);
    if (!member->name.empty()) {
      member->bundle = reference;
      repository.packages.push_back(std::move(member));
    }
    if (!complete) break;
  }
}

// Only a regular file (or a link to one, such as the boot image) can be an
// image.
bool isImageFile(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// The stored image of one database entry, when it can be read.
void readStoredImage(Repository& repository, const std::string& name, const std::string& imagePath) {
  if (!isImageFile(imagePath)) return;
  FileSource file(imagePath);
  if (!file.isOpen()) return;
  auto package = std::make_unique<Package>(name);
  PackageStream stream(&file, false);
  for (uint32_t type : kStoredImageParts) stream.acceptPart(type);
  stream.nextPart();
  if (stream.partType() == kBundleHeaderPart) {
    readBundleImage(repository, *package, stream);
  } else {
    // Whatever the part: an unreadable image leaves the package as far as
    // the read got, and the database entry fills in the rest.
    readPackageHeader(*package, stream);
  }
  repository.packages.push_back(std::move(package));
}

}  // namespace

bool readStoredImages(Repository& repository, const BoardPaths& board, bool beside) {
  DatabaseDir dir(board);
  if (!dir.isOpen()) return false;
  std::string name;
  while (dir.next(&name)) {
    const std::string imagePath =
        beside ? board.at(kImagesDir) + name : board.entryDirectory(name) + kImageFile;
    readStoredImage(repository, name, imagePath);
  }
  return true;
}

bool loadInstalled(Repository& repository, const BoardPaths& board) {
  // The stored images, in the database and beside the package files.
  if (!readStoredImages(repository, board, false)) return false;
  readStoredImages(repository, board, true);

  // The database once more, for the entries themselves.
  DatabaseDir dir(board);
  if (!dir.isOpen()) return true;

  // State and schedule for every package an image described.
  for (const auto& package : repository.packages) readEntry(*package, board);

  // Packages known only by their database entry.
  std::set<std::string> known;
  for (const auto& package : repository.packages) known.insert(package->name);
  std::string name;
  while (dir.next(&name)) {
    if (!known.insert(name).second) continue;
    auto package = std::make_unique<Package>(name);
    readEntry(*package, board);
    repository.packages.push_back(std::move(package));
  }
  return true;
}
