// Staged changes to flash: nothing reaches its destination before commit().
// Every new file, move, link and deletion of a run is kept here, keyed by the
// path it changes, and can be committed, cancelled or saved as a manifest.
// A commit changes the board only once every new file lies durably on its
// destination's file system, and records what it does in a journal, so that
// the board holds either the old state or the new one whatever happens.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "model/board_paths.h"
#include "model/package.h"
#include "staging/commit_journal.h"
#include "staging/staged_files.h"
#include "staging/staged_ops.h"

class FileSystems;
class CopyProgress;
struct PlacedCopy;

// Why a commit failed: the errno of the failure and the path it concerns.
// Before its journal is durable a commit changes nothing; after, a failing
// step leaves the journal for the next run to complete (`journalLeft`).
struct CommitFailure {
  int error = 0;
  std::string path;
  bool journalLeft = false;
  const char* call = nullptr;  // "symlink" or "rename" when one of those failed
};

class Transaction {
 public:
  // New content that has no room on its destination's file system is staged
  // in the board's RAM disk; the record of staged files and the commit
  // journal live on its flash.
  explicit Transaction(BoardPaths board);

  // Stages new content for `destination` and returns the descriptor of its
  // temporary file (write-only), which the caller fills and closes. The
  // temporary file lies on the destination's file system when that has room
  // for sizeHint plus a tenth, else on the RAM disk; `mode` (0: none) is
  // applied to it. When no temporary file can be made, nothing is staged and
  // the result is -1, with errno telling why.
  // The free space is asked once for a run of creations in one directory and
  // then counted down by the files staged since, so between two creations
  // the run may write on flash only the files it tells of with noteWritten()
  // (those it does not tell of make the next creation ask again) and with
  // noteTemporary() (after which every creation asks).
  int create(const std::string& destination, uint32_t sizeHint, uint32_t mode);
  // The temporary file of the last creation, for `destination`, is closed and
  // holds `size` bytes: staging and the space check need not ask for it.
  void noteWritten(const std::string& destination, uint32_t size);
  void move(const std::string& source, const std::string& destination);
  void link(const std::string& text, const std::string& destination);
  // Stages the deletion of an existing path (stat follows links, so a
  // dangling link counts as absent); for an absent path it drops whatever is
  // staged for it instead.
  void remove(const std::string& path);
  // Drops a staged deletion of `path`. False when something else is staged
  // for it or when it exists and is not a directory.
  bool keep(const std::string& path);
  // A file the run writes itself (not through create) and that must not
  // outlive the run unless it is committed: recorded so that the next run
  // deletes it when this one is interrupted.
  bool noteTemporary(const std::string& path);
  // A staged change for `path` failed (errno tells why) in a way its caller
  // may not report: the transaction can no longer be committed, and says so
  // with this failure. Cancelling clears it.
  void noteFailure(const std::string& path);

  // Applies every staged operation: deletions and links first, then moves. It
  // first brings every new file onto its destination's file system and makes
  // it durable; when a file cannot be placed there (no space, a missing
  // source, an I/O error) or the journal cannot be made durable, nothing has
  // changed and the staged files stay. Once the journal is durable, a step
  // that fails stops the commit and leaves the journal for the next run to
  // complete. False in both cases, `failure` (may be null) telling which.
  // The caller's progress, if any, steps as new files are copied.
  bool commit(CopyProgress* progress, CommitFailure* failure = nullptr);
  // Deletes the temporary files of staged creations and drops everything.
  void cancel();
  // cancel() for a transaction loaded from a manifest: the temporary files
  // that create() made for its moves are deleted as well, no other file, and
  // with them the record of the saved files.
  // False, with errno, when a file cannot be deleted.
  bool cancelSaved();

  // Writes the manifest whole or not at all (a temporary file renamed into
  // place); false, with no manifest left, when it cannot. Once saved, the
  // staged files belong to the manifest, and the record of them lies beside
  // it on flash until the manifest is committed or cancelled.
  bool save(const std::string& manifestPath);
  // Stages the operations of a manifest on top of what is staged, all or
  // none: false, with nothing staged, when the manifest cannot be read, is
  // not whole and well-formed, or names a destination outside the flash, a
  // source outside the flash and the RAM disk, or a path with a ".." component.
  bool load(const std::string& manifestPath);

  // The number of the last creation, and the generation of the staged
  // operations (every time they are all dropped, a new one begins): together
  // they name a staged file for as long as the transaction holds it.
  uint32_t lastCreation() const { return lastCreation_; }
  uint32_t generation() const { return generation_; }
  // Visits the destinations of the creations numbered in the runs `ids`
  // (sorted, each from its first number to its last) in
  // generation `generation`, in plain byte order of the paths, whatever was
  // staged for them since. False, with nothing visited, when the transaction
  // no longer holds that generation.
  bool forEachCreation(const NumberRuns& ids, uint32_t generation,
                       const std::function<void(const std::string&)>& visit) const;

  bool isEmpty() const { return ops_.empty(); }
  std::optional<StagedOp> find(const std::string& destination) const;
  // Destinations and their operations, in plain byte order of the paths.
  StagedOps::Iterator begin() const { return ops_.begin(); }
  StagedOps::Iterator end() const { return ops_.end(); }
  const BoardPaths& board() const { return board_; }

 private:
  uint32_t stage(const std::string& destination, OpKind kind, std::string source);
  // Drops every staged operation, and with them their generation.
  void dropAll();
  bool forgetRecord(CommitFailure* failure);
  void drop(size_t position);
  std::string stagingDirFor(const std::string& destination, uint32_t sizeHint);
  bool isStagingFile(const std::string& source, const std::string& destination) const;
  // The sources that more than one move or creation names.
  std::vector<std::string> sharedSources() const;
  // Brings every new file onto its destination's file system; the copies it
  // makes are listed in `copies`, and the file systems they lie on (where
  // the renames will take place) in `placedOn`.
  bool placeNewFiles(CopyProgress* progress, std::vector<PlacedCopy>* copies, FileSystems* placedOn,
                     CommitFailure* failure);

  StagedOps ops_;
  BoardPaths board_;
  std::string fallbackDir_;
  StagedRecord record_;
  // The directory the last creation's destination lies in, and its first
  // existing ancestor: files come in path order, so most share it. Only a
  // commit makes directories; it forgets this.
  std::string lastParent_;
  std::string lastStagingHome_;
  // The free space of lastStagingHome_ when it was asked, less the blocks of
  // the files staged there since; unknown when the run may have changed that
  // file system otherwise: a file whose size it was not told, a line of the
  // record, a deletion, a file it writes itself.
  bool homeSpaceKnown_ = false;
  uint32_t homeBlockSize_ = 0;
  uint64_t homeFreeBlocks_ = 0;
  unsigned long homeRecordLines_ = 0;
  std::string lastCreated_;
  bool lastCreatedSized_ = true;
  uint32_t lastCreation_ = 0;
  bool lastCreatedInHome_ = false;  // its temporary file lies in lastStagingHome_
  uint32_t generation_ = 0;
  bool writesItself_ = false;
  // Loaded from a manifest: its moves from staging files are creations.
  bool loaded_ = false;
  // The first staged change that failed; error 0 when none has.
  CommitFailure stagingFailure_;
};

// Whether content of `sizeHint` bytes plus a tenth fits below the free space
// blockSize * freeBlocks, computed in unsigned 32-bit arithmetic as the board
// does, the product wrapping modulo 2^32.
bool roomForStaging(uint32_t sizeHint, uint32_t blockSize, uint32_t freeBlocks);

// Completes a commit that an earlier run began and did not finish, and
// deletes what an earlier run staged and neither committed nor cancelled
// (the files a saved manifest names are kept while the manifest is there).
// Every run does this before it reads the package database. False, with
// `failure`, when a journal stays because it cannot be completed: nothing
// else may then change the board.
// `carriedOut` (may be empty) is shown every step of a journal completed.
bool recoverInterruptedRun(const BoardPaths& board, CommitFailure* failure,
                           const JournalSteps::Visit& carriedOut = nullptr);
