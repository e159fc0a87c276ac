// Loading the installed packages. Nothing is staged or written here.
#include "database/installed_packages.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
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
  explicit DatabaseDir(const BoardPaths& board) : fs_(board.fs()), path_(board.at(kDatabaseDir)) {
    open_ = fs_.listDirectory(path_, &entries_);
  }

  bool isOpen() const { return open_; }

  // The next package entry, or false at the end. Only directories are
  // package entries: a stray file (a stored image left behind by a failed
  // run, say) would otherwise stand as a package that nothing can remove. A
  // link to a directory counts, so only a link, or an entry whose type the
  // file system does not tell, is asked about.
  bool next(std::string* name) {
    while (next_ < entries_.size()) {
      const DirectoryEntry& entry = entries_[next_++];
      if (entry.name[0] == '.') continue;
      if (entry.type != DT_DIR) {
        struct stat info;
        const bool mayBeDirectory = entry.type == DT_LNK || entry.type == DT_UNKNOWN;
        if (!mayBeDirectory || !fs_.status(path_ + entry.name, &info) || !S_ISDIR(info.st_mode)) continue;
      }
      *name = entry.name;
      return true;
    }
    return false;
  }

 private:
  FileSystem& fs_;
  std::string path_;
  std::vector<DirectoryEntry> entries_;
  size_t next_ = 0;
  bool open_ = false;
};

// The names in a directory that holds one entry per package, so that a
// package whose name is not among them is not asked about. Null when the
// directory cannot be listed though it may be there: then every name is
// asked about.
std::unique_ptr<std::set<std::string>> listNames(FileSystem& fs, const std::string& path) {
  auto names = std::make_unique<std::set<std::string>>();
  std::vector<DirectoryEntry> entries;
  if (!fs.listDirectory(path, &entries)) return errno == ENOENT || errno == ENOTDIR ? std::move(names) : nullptr;
  for (const DirectoryEntry& entry : entries) names->insert(entry.name);
  return names;
}

// Whether something named `name` may stand in the listed directory: it is
// listed, or it is no single entry name (empty, or holding a "/" or a NUL),
// which only asking can tell.
bool isListed(const std::set<std::string>* names, const std::string& name) {
  return names == nullptr || name.empty() || name.find_first_of(std::string("/\0", 2)) != std::string::npos ||
         names->count(name) != 0;
}

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

// The stored image of one database entry, when it can be read. Only a
// regular file (or a link to one, such as the boot image) can be an image.
void readStoredImage(FileSystem& fs, Repository& repository, const std::string& name, const std::string& imagePath) {
  FileSource file = FileSource::regularFile(fs, imagePath);
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
  const auto besideNames = beside ? listNames(board.fs(), board.at(kImagesDir)) : nullptr;
  std::string name;
  while (dir.next(&name)) {
    if (beside && !isListed(besideNames.get(), name)) continue;
    const std::string imagePath =
        beside ? board.at(kImagesDir) + name : board.entryDirectory(name) + kImageFile;
    readStoredImage(board.fs(), repository, name, imagePath);
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

  // State and schedule for every package an image described. Schedules are
  // rare: only a name below /ram/pdb/ can have one.
  const auto scheduled = listNames(board.fs(), board.at(kScheduleDir));
  for (const auto& package : repository.packages)
    readEntry(*package, board, isListed(scheduled.get(), package->name));

  // Packages known only by their database entry.
  std::set<std::string> known;
  for (const auto& package : repository.packages) known.insert(package->name);
  std::string name;
  while (dir.next(&name)) {
    if (!known.insert(name).second) continue;
    auto package = std::make_unique<Package>(name);
    readEntry(*package, board, isListed(scheduled.get(), name));
    repository.packages.push_back(std::move(package));
  }
  return true;
}
