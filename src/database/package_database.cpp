// Reading and writing a package's entry in the package database. Every write
// is staged in the Transaction; nothing here touches flash directly.
#include "database/package_database.h"

#include <sys/stat.h>

#include <cerrno>
#include <memory>
#include <string>

#include "platform/file_sink.h"
#include "platform/regular_file.h"
#include "platform/text_reader.h"
#include "staging/transaction.h"

namespace {

// Size hints handed to Transaction::create, by file.
constexpr uint32_t kVersionSizeHint = 32;
constexpr uint32_t kListSizeHint = 1024;
constexpr uint32_t kBundleSizeHint = 16;
constexpr uint32_t kFilesSizeHint = 4096;
constexpr uint32_t kStateSizeHint = 8;

// Database files are read as words, lines and numbers in the classic locale,
// whatever the program's global locale is; anything but a regular file in
// place of one counts as a file that cannot be opened (see TextReader).

// `version`: false when the file is missing or a number is unreadable.
bool readVersionFile(FileSystem& fs, const std::string& path, Package& package) {
  TextReader in(fs, path);
  uint32_t version = 0;
  uint32_t buildTime = 0;
  if (!in.number(&version) || !in.number(&buildTime)) return false;
  package.version = version;
  package.buildTime = buildTime;
  return true;
}

// `bundle`: the first word names the bundle of a member.
bool readBundleFile(FileSystem& fs, const std::string& path, Package& package) {
  TextReader in(fs, path);
  std::string word;
  if (!in.word(&word)) return false;
  package.bundle.name = word;
  package.bundle.min = 0;
  package.bundle.max = 0;
  return true;
}

// `files`: one path a line, each made to begin with "/". False when the
// file does not exist.
bool readFilesFile(FileSystem& fs, const std::string& path, Package& package) {
  TextReader in(fs, path);
  if (!in.isOpen()) return false;
  std::string line;
  while (in.line(&line)) {
    if (line.empty()) continue;
    package.files.insert(line[0] == '/' ? line : "/" + line);
  }
  return true;
}

// The metadata files, for a package that no stored image described.
void readMetadata(FileSystem& fs, const std::string& dir, Package& package) {
  if (!readVersionFile(fs, dir + "version", package)) package.action = PackageAction::Uninstall;
  if (!readEntryList(fs, dir + "deps", package.depends, false)) package.action = PackageAction::Uninstall;
  if (!readEntryList(fs, dir + "provides", package.provides, true)) package.action = PackageAction::Uninstall;
  if (!readEntryList(fs, dir + "conflicts", package.conflicts, false)) package.action = PackageAction::Uninstall;
  // A member entry without its bundle's image cannot stand alone.
  if (readBundleFile(fs, dir + "bundle", package)) package.action = PackageAction::Uninstall;
  if (!readFilesFile(fs, dir + "files", package)) package.isBundle = true;
}

// The state files: `disabled` wins over `enabled`; only its first line is read.
void readState(FileSystem& fs, const std::string& dir, Package& package) {
  package.userForced = false;
  TextReader disabled(fs, dir + "disabled");
  if (disabled.isOpen()) {
    package.disabled = true;
    std::string line;
    disabled.line(&line);
    package.userForced = line != "auto";
    return;
  }
  package.disabled = false;
  if (isRegularFile(fs, dir + "enabled")) package.userForced = true;
}

// The schedule: the one word another part of the system scheduled for this run.
void readSchedule(FileSystem& fs, const std::string& path, Package& package) {
  TextReader in(fs, path);
  std::string word;
  if (!in.word(&word)) return;
  if (word == actionWord(PackageAction::Uninstall)) {
    package.action = PackageAction::Uninstall;
  } else if (word == actionWord(PackageAction::Enable)) {
    package.action = PackageAction::Enable;
    package.userForced = true;
  } else if (word == actionWord(PackageAction::Disable)) {
    package.action = PackageAction::Disable;
    package.userForced = true;
  }
}


// Appends one file's content to the text of a staged creation; a writer of
// a long text may hand what it has to `file` on the way, with flushTo().
using ContentWriter = void (*)(std::string& out, FileSink& file, const Package& package,
                               const Transaction& transaction);

// Past this the text so far goes to the file, so that a list of many files
// is never held whole.
constexpr size_t kContentChunk = 8192;

void flushTo(FileSink& file, std::string& out) {
  if (out.size() < kContentChunk) return;
  file.write(out.data(), out.size());
  out.clear();
}

// Stages a new file and fills it. False, with errno telling why, when the
// content did not reach the staged file whole: a full disk shows only when
// the buffered content is flushed, so the flush and the close are checked
// too, and errno is kept from the operation that failed.
bool stageFile(Transaction& transaction, const std::string& path, uint32_t sizeHint,
               ContentWriter write, const Package& package) {
  FileSink file(transaction.board().fs(), transaction.create(path, sizeHint, 0));
  if (!file.isOpen()) return false;
  // A staged file that did not get its content whole must never be
  // committed, whether or not the caller can say so.
  const auto failed = [&] {
    const int error = errno;
    transaction.noteFailure(path);
    errno = error;
    return false;
  };
  std::string text;
  write(text, file, package, transaction);
  if (!file.write(text.data(), text.size()) || !file.flush()) {
    const int error = errno;
    file.close();
    errno = error;
    return failed();
  }
  return file.close() || failed();
}

void writeVersion(std::string& out, FileSink&, const Package& package, const Transaction&) {
  out += std::to_string(package.version) + ' ' + std::to_string(package.buildTime) + '\n';
}

// One line per entry: name, min, max, and for provides the priority.
void writeList(std::string& out, const std::vector<Dependency>& list, bool withPriority) {
  for (const Dependency& entry : list) {
    out += entry.name + ' ' + std::to_string(entry.min) + ' ' + std::to_string(entry.max);
    if (withPriority) out += ' ' + std::to_string(entry.priority);
    out += '\n';
  }
}

void writeDeps(std::string& out, FileSink&, const Package& package, const Transaction&) {
  writeList(out, package.depends, false);
}
void writeProvides(std::string& out, FileSink&, const Package& package, const Transaction&) {
  writeList(out, package.provides, true);
}
void writeConflicts(std::string& out, FileSink&, const Package& package, const Transaction&) {
  writeList(out, package.conflicts, false);
}
void writeBundle(std::string& out, FileSink&, const Package& package, const Transaction&) {
  out += package.bundle.name + '\n';
}

// Installed paths without their leading "/"; empty paths are skipped. The
// files unpacking staged are named by the transaction, in the same order.
void writeFiles(std::string& out, FileSink& file, const Package& package, const Transaction& transaction) {
  const auto write = [&](std::string_view path) {
    if (path.empty()) return;
    out.append(path.substr(path[0] == '/' ? 1 : 0));
    out += '\n';
    flushTo(file, out);
  };
  for (const std::string& path : package.files) write(path);
  transaction.forEachCreation(package.stagedFiles, package.stagedGeneration, [&](const std::string& destination) {
    write(transaction.board().recordedPath(destination));
  });
}

void writeUser(std::string& out, FileSink&, const Package&, const Transaction&) { out += "user\n"; }
void writeAuto(std::string& out, FileSink&, const Package&, const Transaction&) { out += "auto\n"; }

// One metadata file: its name in the entry directory and in messages.
struct MetadataFile {
  const char* name;
  const char* label;
  uint32_t sizeHint;
  ContentWriter write;
};

const MetadataFile kVersionFile = {"version", "meta/version", kVersionSizeHint, writeVersion};
const MetadataFile kDepsFile = {"deps", "meta/deps", kListSizeHint, writeDeps};
const MetadataFile kProvidesFile = {"provides", "meta/provides", kListSizeHint, writeProvides};
const MetadataFile kConflictsFile = {"conflicts", "meta/conflicts", kListSizeHint, writeConflicts};
const MetadataFile kBundleFile = {"bundle", "meta/bundle", kBundleSizeHint, writeBundle};
const MetadataFile kFilesFile = {"files", "meta/files", kFilesSizeHint, writeFiles};

// Stages the file, or tells why it could not be written.
bool stageMetadata(Transaction& transaction, const std::string& dir, const MetadataFile& file,
                   const Package& package, EntryFailure* failure) {
  if (stageFile(transaction, dir + file.name, file.sizeHint, file.write, package)) return true;
  if (failure != nullptr) *failure = EntryFailure{file.label, errno};
  return false;
}

// Stages the file when `present`, else its removal, so that no file of an
// earlier version outlives what the package now says.
bool stageMetadataIf(bool present, Transaction& transaction, const std::string& dir,
                     const MetadataFile& file, const Package& package, EntryFailure* failure) {
  if (present) return stageMetadata(transaction, dir, file, package, failure);
  transaction.remove(dir + file.name);
  return true;
}

// The metadata files, stopping at the first that cannot be written. A package
// kept as a stored image is described by its image, except for the files it
// installed: those are written for it too, or uninstalling it later would
// leave them all on flash.
bool writeMetadata(const Package& package, Transaction& transaction, const std::string& dir,
                   EntryFailure* failure) {
  if (hasFlag(package.flags, PackageFlag::NoMetadata)) return true;
  if (!package.hasImage) {
    if (!stageMetadata(transaction, dir, kVersionFile, package, failure)) return false;
    if (!stageMetadata(transaction, dir, kDepsFile, package, failure)) return false;
    // An empty list removes the file a replaced version may have left.
    if (!stageMetadataIf(!package.provides.empty(), transaction, dir, kProvidesFile, package, failure)) return false;
    if (!stageMetadataIf(!package.conflicts.empty(), transaction, dir, kConflictsFile, package, failure))
      return false;
    if (!stageMetadataIf(!package.bundle.name.empty(), transaction, dir, kBundleFile, package, failure))
      return false;
  }
  // A list never read is the one on flash, and stays as it is; so does one
  // whose staged files the transaction has dropped since.
  const bool dropped = !package.stagedFiles.empty() && package.stagedGeneration != transaction.generation();
  if (package.isBundle || package.filesUnread || dropped) return true;
  return stageMetadata(transaction, dir, kFilesFile, package, failure);
}

// The state files; a failure leaves the transaction unable to commit.
void stageDisabled(const Package& package, Transaction& transaction, const std::string& dir) {
  stageFile(transaction, dir + "disabled", kStateSizeHint, package.userForced ? writeUser : writeAuto, package);
}

void stageEnabled(const Package& package, Transaction& transaction, const std::string& dir) {
  stageFile(transaction, dir + "enabled", kStateSizeHint, writeUser, package);
}

}  // namespace

bool readEntryList(FileSystem& fs, const std::string& path, std::vector<Dependency>& list, bool withPriority) {
  TextReader in(fs, path);
  for (;;) {
    Dependency entry;
    if (!in.word(&entry.name)) return true;  // the end, or no file at all
    if (!in.number(&entry.min) || !in.number(&entry.max)) return false;
    if (withPriority && !in.number(&entry.priority)) return false;
    list.push_back(entry);
  }
}

void readEntry(Package& package, const BoardPaths& board, bool scheduled) {
  const std::string dir = board.entryDirectory(package.name);
  FileSystem& fs = board.fs();
  if (package.version == 0) {
    readMetadata(fs, dir, package);
  } else {
    // Loaded from a stored image: the image knows everything but the files
    // the package installed, which are kept beside it.
    package.filesUnread = true;
  }
  readState(fs, dir, package);
  if (isPlaceholder(package) || !scheduled) return;
  readSchedule(fs, board.scheduleFile(package.name), package);
}

const PathSet& installedFiles(Package& package, const BoardPaths& board, const Transaction* transaction) {
  if (!package.stagedFiles.empty()) {
    // Named by the transaction while it holds them; once it has committed or
    // dropped them, the entry on the board lists them.
    const bool held = transaction != nullptr &&
                      transaction->forEachCreation(package.stagedFiles, package.stagedGeneration,
                                                   [&](const std::string& destination) {
                                                     package.files.insert(board.recordedPath(destination));
                                                   });
    package.stagedFiles.clear();
    if (!held) package.filesUnread = true;
  }
  if (package.filesUnread) {
    package.filesUnread = false;
    readFilesFile(board.fs(), board.entryDirectory(package.name) + "files", package);
  }
  return package.files;
}

bool prepareEntry(const Package& package, Transaction& transaction) {
  const std::string dir = transaction.board().entryDirectory(package.name);
  if (!transaction.keep(dir)) return false;
  // Through the trailing "/" a plain file reads as absent; look at the path
  // itself so that no entry is written below a file.
  struct stat info;
  const std::string path = dir.substr(0, dir.size() - 1);
  return !transaction.board().fs().status(path, &info) || S_ISDIR(info.st_mode);
}

bool writeEntry(const Package& package, Transaction& transaction, EntryFailure* failure) {
  const std::string dir = transaction.board().entryDirectory(package.name);
  if (!writeMetadata(package, transaction, dir, failure)) return false;
  // `disabled` exactly when the package is disabled.
  if (package.disabled)
    stageDisabled(package, transaction, dir);
  else
    transaction.remove(dir + "disabled");
  // `enabled` exactly when it is enabled by the user.
  if (!package.disabled && package.userForced)
    stageEnabled(package, transaction, dir);
  else
    transaction.remove(dir + "enabled");
  return true;
}

bool saveEntry(const Package& package, Transaction& transaction, EntryFailure* failure) {
  return prepareEntry(package, transaction) && writeEntry(package, transaction, failure);
}

void writeDisabled(Package& package, Transaction& transaction) {
  const std::string dir = transaction.board().entryDirectory(package.name);
  transaction.remove(dir + "enabled");
  stageDisabled(package, transaction, dir);
  package.disabled = true;
  package.action = PackageAction::None;
}

void writeEnabled(Package& package, Transaction& transaction) {
  const std::string dir = transaction.board().entryDirectory(package.name);
  transaction.remove(dir + "disabled");
  if (package.userForced)
    stageEnabled(package, transaction, dir);
  else
    transaction.remove(dir + "enabled");
  package.disabled = false;
  package.action = PackageAction::None;
}
