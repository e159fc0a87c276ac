// The package database on flash: one directory per installed package below
// /flash/var/pdb/ holding small text files, read at the start of a run and
// written only through the run's Transaction. Schedule files below /ram/pdb/.
#pragma once

#include <string>
#include <vector>

#include "model/package.h"

class Transaction;

// `root` in the operations below is the directory in which the board's tree
// is seen. It is empty on the board, where the run has already entered its
// root directory; tests point it at a scratch tree.

// "/flash/var/pdb/" + name + "/", with the trailing "/".
std::string entryDirectory(const std::string& name, const std::string& root = std::string());
// "/ram/pdb/" + name + "/schedule".
std::string scheduleFile(const std::string& name, const std::string& root = std::string());

// Reads a deps, provides (withPriority) or conflicts file: one entry a line,
// name, min, max (and priority). A missing file is an empty list. False at
// the first incomplete entry; the entries before it stay in the list.
bool readEntryList(const std::string& path, std::vector<Dependency>& list, bool withPriority);

// Fills the package from its entry directory and its schedule file. The
// metadata files are read only when nothing came from a stored image
// (version 0); the state files and the schedule always. Never fails: a broken
// entry shows only as the action Uninstall.
void readEntry(Package& package, const std::string& root = std::string());

// Takes back a staged removal of the entry directory. False when something
// else is staged there, or the path exists and is no directory.
bool prepareEntry(const Package& package, Transaction& transaction,
                  const std::string& root = std::string());

// Stages every file of the entry as the package now stands. False, with the
// failure reported, when a metadata file cannot be written.
bool writeEntry(const Package& package, Transaction& transaction,
                const std::string& root = std::string());

// prepareEntry, then writeEntry.
bool saveEntry(const Package& package, Transaction& transaction,
               const std::string& root = std::string());

// Records the package as disabled ("user" or "auto" after userForced).
void writeDisabled(Package& package, Transaction& transaction,
                   const std::string& root = std::string());

// Records the package as enabled; "user" only when userForced.
void writeEnabled(Package& package, Transaction& transaction,
                  const std::string& root = std::string());
