// The commit journal: what a commit is about to do, made durable before its
// first change and removed after its last, so that a commit interrupted
// half-way is completed by the next run. It lives on flash, where no other
// reader looks; its lines are those of the manifest (doc/package_format.md).
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "model/board_paths.h"

struct CommitFailure;

// One step of a commit, in the order the journal keeps them: 'U' delete
// `path`; 'L' make `path` a link to the text `source`; 'M' rename `source` (a
// file already on the destination's file system) to `path`; 'D' delete `path`
// once everything is in place.
struct JournalStep {
  char kind;
  const std::string& path;
  const std::string& source;
};

// The steps of one commit. They are walked, not held: once to write the
// journal and again for each pass of carrying it out, so that a commit of
// many files keeps no second list of them.
class JournalSteps {
 public:
  using Visit = std::function<void(const JournalStep&)>;
  virtual ~JournalSteps() = default;
  // Calls `visit` with every step, in order; with `only`, with the steps of
  // those kinds alone (their letters, as "UL").
  virtual void forEach(const Visit& visit, std::string_view only = {}) const = 0;
};

// Writes the journal whole, durably, under its final name. False, with
// `failure` telling why and no journal left, when it cannot.
bool writeJournal(const BoardPaths& board, const JournalSteps& steps, CommitFailure* failure);

// Carries out a written journal and removes it: deletions and links (unless
// renaming had begun), made durable before the journal says renaming has
// begun; then every rename whose source is still there, then, with
// everything durable, the deletions that follow. Each step can be repeated,
// so a journal can be carried out again from its start. A step that fails
// stops it: the journal stays for the next run to complete, the result is
// false and `failure` names the path.
bool applyJournal(const BoardPaths& board, const JournalSteps& steps, bool renamingBegun, CommitFailure* failure);

// Completes the journal of an interrupted commit, if there is one, and shows
// `carriedOut` (may be empty) every step of a journal it completed. A journal
// that is not whole and well-formed, names paths outside the flash and the
// RAM disk, or is no regular file (a link is not followed), is not carried
// out: it is deleted and the board left as it is. False, with `failure`,
// when a journal stays because a step of it fails again.
bool completeJournal(const BoardPaths& board, CommitFailure* failure,
                     const JournalSteps::Visit& carriedOut = nullptr);
