// The record of the files a run stages on the board (temporary files of new
// content, the copies a commit places, the incoming image of image mode):
// each is recorded before it is made, so that the next run deletes what an
// interrupted run left behind. The record lives on flash, where no other
// reader looks, and goes when the run commits, cancels or saves.
#pragma once

#include <set>
#include <string>

#include "model/board_paths.h"

// Records `path` as staged by this run. True also where the board has no
// flash directory to record in (there is nothing to protect); false, with
// errno, when the record cannot be written.
bool recordStagedFile(const BoardPaths& board, const std::string& path);

// Makes a new, empty temporary file in `directory`, named "tmp" (or ".tmp"
// when `hidden`) and six letters or digits, recorded before it exists.
// Returns its descriptor (write-only, mode 0600) and sets `path`, or -1 with
// errno.
int makeTemporaryFile(const BoardPaths& board, const std::string& directory, bool hidden, std::string* path);

// Whether a base name has the form makeTemporaryFile and mkstemp give:
// "tmp" or ".tmp" and six letters or digits.
bool isTemporaryName(const std::string& name);

// The run is over: what it staged is committed, deleted or owned by a saved
// manifest. Deletes the record.
void forgetStagedFiles(const BoardPaths& board);

// Deletes every file the record names, except those in `keep`, and the
// record. Only regular files below the flash and the RAM disk are deleted,
// whatever the record says.
void deleteStagedFiles(const BoardPaths& board, const std::set<std::string>& keep);
