// A board as pkgtool asks it: the tree below -r ROOT, and its installed
// packages loaded read-only with the installer's own loader.
#pragma once

#include <string>

#include "model/repository.h"

// The root as the installer's loaders take it: "" for "/", else without a
// trailing "/".
std::string boardRoot(const std::string& option);

// Fills the repository with the installed packages of the board at root,
// quietly. False, with *error, when the tree has no package database, where
// the loader would only warn. Nothing is written.
bool loadBoard(const std::string& root, Repository* repository, std::string* error);
