// Every path of the board the program uses, in one place, as the board sees
// it; and BoardPaths, which places them in the tree a run works in: the root
// itself on the board (after -r, the program has entered it), a scratch tree
// in tests.
#pragma once

#include <string>
#include <string_view>

#include "platform/file_system.h"

// The main flash file system; every installed file lies below it.
constexpr char kFlashDir[] = "/flash";
// The boot area, a file system budgeted on its own.
constexpr char kBootDir[] = "/flash/boot";
// The boot image: the whole package file of the package that carries it.
constexpr char kBootImagePath[] = "/flash/bootimage";
// The package database: one directory of small files per installed package.
constexpr char kDatabaseDir[] = "/flash/var/pdb/";
// A second place for stored images, one file per package name.
constexpr char kImagesDir[] = "/rw/pckg/.images/";
// Where image mode copies the stream while it is read; the doubled "/" names
// the same file as kIncomingImage.
constexpr char kIncomingImageCopy[] = "/flash/var/pdb//image";
constexpr char kIncomingImage[] = "/flash/var/pdb/image";
// The package directories of an upgrade run, the second searched only when
// the first holds no package file.
constexpr char kFirstPackageDirectory[] = "/flash/rw/pckg/";
constexpr char kSecondPackageDirectory[] = "/flash/var/pckg/";
// Files of a disabled package lie below /flash/x/NAME/.
constexpr char kDisabledDir[] = "/x/";
// Actions other programs schedule for a run: /ram/pdb/NAME/schedule.
constexpr char kScheduleDir[] = "/ram/pdb/";
// Writable settings, on a file system that outlasts a power cut.
constexpr char kSettingsDir[] = "/rw";
// The RAM disk: staging directory of last resort.
constexpr char kRamDir[] = "/ram";
// Where a run saves its transaction for a later --commit or --cancel.
constexpr char kManifestPath[] = "/ram/MANIFEST";
// Present, it allows downgrades for one upgrade run.
constexpr char kDowngradeMarker[] = "/rw/DOWNGRADE";
// The messages of the runs, kept for the next one.
constexpr char kPostlogPath[] = "/flash/postlog";
// Staged whenever an upgrade run changed anything.
constexpr char kChangedMarker[] = "/flash/PCKGS_CHANGED";
// Left for the boot loader after a package that brings the boot image.
constexpr char kUpgradedMarker[] = "/flash/UPGRADED";
// The program's own records, where no other reader looks: the journal of a
// commit in progress (and the journal being written), and the list of the
// files a run has staged.
constexpr char kJournalPath[] = "/flash/.journal";
constexpr char kNewJournalPath[] = "/flash/.journal.new";
constexpr char kStagedRecordPath[] = "/flash/.staged";
// The record of the files a saved manifest names, kept until it is committed
// or cancelled.
constexpr char kSavedRecordPath[] = "/flash/.saved";
// The post-install log being written, renamed over the old one when whole.
constexpr char kNewPostlogPath[] = "/flash/.postlog.new";

class BoardPaths {
 public:
  // Every call on the board's files goes through `fs`, which outlives this.
  explicit BoardPaths(FileSystem& fs, std::string root = std::string()) : fs_(&fs), root_(std::move(root)) {}

  FileSystem& fs() const { return *fs_; }
  const std::string& root() const { return root_; }
  // Where the board path (one of the constants above) lies in the tree.
  std::string at(const std::string& boardPath) const { return root_ + boardPath; }
  // A package's database directory, with its trailing "/".
  std::string entryDirectory(const std::string& name) const { return root_ + kDatabaseDir + name + "/"; }
  std::string scheduleFile(const std::string& name) const { return root_ + kScheduleDir + name + "/schedule"; }
  // An installed file, by the path the package's `files` list records
  // ("/bin/x" or "bin/x": the flash root and one "/" before it).
  std::string installedFile(const std::string& recorded) const {
    return root_ + kFlashDir + (recorded.empty() || recorded[0] != '/' ? "/" : "") + recorded;
  }
  // The path a `files` list records ("/bin/x") for an installed file of
  // this tree: installedFile's inverse.
  std::string_view recordedPath(std::string_view installed) const {
    return installed.substr(root_.size() + sizeof kFlashDir - 1);
  }
  // Whether a path of this tree lies below a board directory (which ends
  // without "/") and climbs out of it nowhere.
  bool liesBelow(const std::string& path, const char* boardDir) const;

 private:
  FileSystem* fs_;
  std::string root_;
};
