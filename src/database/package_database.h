// The package database on flash: one directory per installed package below
// /flash/var/pdb/ holding small text files, read at the start of a run and
// written only through the run's Transaction. Schedule files below /ram/pdb/.
#pragma once

#include <string>
#include <vector>

#include "model/board_paths.h"
#include "model/package.h"

class Transaction;

// A metadata file that could not be written: its label in messages
// ("meta/version", ...) and the system's error.
struct EntryFailure {
  std::string file;
  int error = 0;
};

// Reads a deps, provides (withPriority) or conflicts file: one entry a line,
// name, min, max (and priority). A missing file is an empty list. False at
// the first incomplete entry; the entries before it stay in the list.
bool readEntryList(FileSystem& fs, const std::string& path, std::vector<Dependency>& list, bool withPriority);

// Fills the package from its entry directory and its schedule file. The
// metadata files are read only when nothing came from a stored image
// (version 0); the state files and the schedule always, unless the caller
// knows there is no schedule (`scheduled` false: nothing below /ram/pdb/ has
// the package's name). Never fails: a broken entry shows only as the action
// Uninstall. The files list of a package a stored image described is left
// for installedFiles, so that a run which removes nothing never reads it.
void readEntry(Package& package, const BoardPaths& board, bool scheduled = true);

// The files the package installed, read from its entry the first time they
// are asked for when readEntry left them unread, or named by the transaction
// (may be null) that unpacking staged them in.
const PathSet& installedFiles(Package& package, const BoardPaths& board, const Transaction* transaction = nullptr);

// The writers below stage through the transaction, in the board it stages for.

// Takes back a staged removal of the entry directory. False when something
// else is staged there, or the path exists and is no directory.
bool prepareEntry(const Package& package, Transaction& transaction);

// Stages every file of the entry as the package now stands. False, with
// `failure` (may be null) telling which metadata file could not be written
// and why.
bool writeEntry(const Package& package, Transaction& transaction, EntryFailure* failure = nullptr);

// prepareEntry, then writeEntry.
bool saveEntry(const Package& package, Transaction& transaction, EntryFailure* failure = nullptr);

// Records the package as disabled ("user" or "auto" after userForced).
void writeDisabled(Package& package, Transaction& transaction);

// Records the package as enabled; "user" only when userForced.
void writeEnabled(Package& package, Transaction& transaction);
