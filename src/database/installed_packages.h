// Loading the installed packages at the start of a run: first from their
// stored images (the package files kept in the package database), then each
// package's state and, where no image described it, its database entry.
#pragma once

#include <string>

#include "model/board_paths.h"
#include "model/repository.h"

// Fills the repository with the installed packages: the stored images in
// /flash/var/pdb/ (a bundle after its members), those in /rw/pckg/.images/,
// then the packages known only by their database entry. False, with the
// repository left as it was, when there is no package database to read.
bool loadInstalled(Repository& repository, const BoardPaths& board);

// Appends a package for every readable stored image of an installed
// package: the file "image" in the package's database directory, or, when
// `beside`, the file named after it in /rw/pckg/.images/. The package names
// are those of /flash/var/pdb/; false when that cannot be opened.
bool readStoredImages(Repository& repository, const BoardPaths& board, bool beside);
