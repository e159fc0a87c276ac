// The record of the files a run stages on the board (temporary files of new
// content, the copies a commit places, the incoming image of image mode): a
// file can reach flash only after the record that names it is durable, so
// that the next run deletes what an interrupted run or a power cut left
// behind. The record lives on flash, where no other reader looks; it goes
// when the run commits or cancels, and moves beside a saved manifest until
// that manifest is committed or cancelled.
#pragma once

#include <set>
#include <string>

#include "model/board_paths.h"

// The record as one run writes it. A run's temporary files share a name stem
// ("tmp" or ".tmp" and three random letters or digits, then three more that
// count), so that one line per directory ("P DIR/STEM") names every temporary
// file the run makes there; a file the run names itself is a line "S PATH".
class StagedRecord {
 public:
  explicit StagedRecord(const BoardPaths& board);
  ~StagedRecord();
  StagedRecord(StagedRecord&& other) noexcept;
  StagedRecord& operator=(StagedRecord&&) = delete;
  StagedRecord(const StagedRecord&) = delete;
  StagedRecord& operator=(const StagedRecord&) = delete;

  // Records `path` as staged by this run, durably. True also where the board
  // has no flash directory to record in (there is nothing to protect); false,
  // with errno, when the record cannot be written.
  bool record(const std::string& path);

  // Makes a new, empty temporary file in `directory` (named as above, hidden
  // when `hidden`), its stem recorded durably before it exists. Returns its
  // descriptor (write-only, `mode` before the umask) and sets `path`, or -1
  // with errno.
  int makeTemporaryFile(const std::string& directory, bool hidden, std::string* path, unsigned mode = 0600);

  // How many lines the record has been given: each may take flash.
  unsigned long lines() const { return lines_; }

  // The staged files now belong to a saved manifest: the record moves beside
  // it (joining the record of a manifest saved before), so that a manifest
  // lost with the RAM disk loses no file on flash. False, with errno, when it
  // cannot be made durable there.
  bool handOverToManifest();

  // The run is over: what it staged is committed or deleted. Closes and
  // deletes the record; false, with errno, when it cannot be deleted.
  bool forget();

 private:
  bool append(const std::string& line);
  bool recordStem(const std::string& stem);

  BoardPaths board_;
  std::string path_;
  int fd_ = -1;
  // The random part of this run's stem, the count of the last file named,
  // and the stems already recorded.
  std::string stemLetters_;
  unsigned count_ = 0;
  std::set<std::string> recordedStems_;
  unsigned long lines_ = 0;
};

// Whether a base name has the form of a temporary file: "tmp" or ".tmp" and
// six letters or digits.
bool isTemporaryName(const std::string& name);

// Deletes every file the record at `recordPath` names, except those in
// `keep`, and then, once the deletions are durable, the record. Only regular
// files below the flash and the RAM disk are deleted, whatever the record
// says. False, with errno, when a deletion or its sync fails: the record then
// stays for the next run.
bool deleteStagedFiles(const BoardPaths& board, const std::string& recordPath, const std::set<std::string>& keep);
