// The record of the files a run stages on the board (temporary files of new
// content, the copies a commit places, the incoming image of image mode):
// each is recorded before it is made, so that the next run deletes what an
// interrupted run left behind. The record lives on flash, where no other
// reader looks, and goes when the run commits, cancels or saves.
#pragma once

#include <set>
#include <string>

#include "model/board_paths.h"

// The record as one run writes it: opened at the first file recorded and kept
// open, so that each file costs one write. Every line is written before the
// file it names is made.
class StagedRecord {
 public:
  explicit StagedRecord(const BoardPaths& board);
  ~StagedRecord();
  StagedRecord(StagedRecord&& other) noexcept;
  StagedRecord& operator=(StagedRecord&&) = delete;
  StagedRecord(const StagedRecord&) = delete;
  StagedRecord& operator=(const StagedRecord&) = delete;

  // Records `path` as staged by this run. True also where the board has no
  // flash directory to record in (there is nothing to protect); false, with
  // errno, when the record cannot be written.
  bool record(const std::string& path);

  // Makes a new, empty temporary file in `directory`, named "tmp" (or ".tmp"
  // when `hidden`) and six letters or digits, recorded before it exists.
  // Returns its descriptor (write-only, mode 0600) and sets `path`, or -1
  // with errno.
  int makeTemporaryFile(const std::string& directory, bool hidden, std::string* path);

  // The run is over: what it staged is committed, deleted or owned by a saved
  // manifest. Closes and deletes the record.
  void forget();

 private:
  std::string path_;
  int fd_ = -1;
};

// StagedRecord::record for a single file, the record opened and closed for it.
bool recordStagedFile(const BoardPaths& board, const std::string& path);

// Whether a base name has the form makeTemporaryFile and mkstemp give: "tmp"
// or ".tmp" and six letters or digits.
bool isTemporaryName(const std::string& name);

// Deletes every file the record names, except those in `keep`, and the
// record. Only regular files below the flash and the RAM disk are deleted,
// whatever the record says.
void deleteStagedFiles(const BoardPaths& board, const std::set<std::string>& keep);
