// The commit journal: what a commit is about to do, made durable before its
// first change and removed after its last, so that a commit interrupted
// half-way is completed by the next run. It lives on flash, where no other
// reader looks; its lines are those of the manifest (doc/package_format.md).
#pragma once

#include <string>
#include <vector>

#include "model/board_paths.h"

struct CommitFailure;

// One step of a commit, in the order the journal keeps them.
struct JournalEntry {
  // 'U' delete `path`; 'L' make `path` a link to the text `source`; 'M' rename
  // `source` (a file already on the destination's file system) to `path`;
  // 'D' delete `path` once everything is in place.
  char kind;
  std::string path;
  std::string source;
};

// Writes the journal whole, durably, under its final name. False, with
// `failure` telling why and no journal left, when it cannot.
bool writeJournal(const BoardPaths& board, const std::vector<JournalEntry>& entries, CommitFailure* failure);

// Carries out a written journal and removes it: deletions and links (unless
// renaming had begun), then every rename whose source is still there, then,
// with everything durable, the deletions that follow. Each step can be
// repeated, so a journal can be carried out again from its start. A failing
// symlink or rename is reported in the manner of perror.
void applyJournal(const BoardPaths& board, const std::vector<JournalEntry>& entries, bool renamingBegun);

// Completes the journal of an interrupted commit, if there is one. A journal
// that is not whole and well-formed, or names paths outside the flash and
// the RAM disk, is not carried out: it is deleted and the board left as it is.
void completeJournal(const BoardPaths& board);
