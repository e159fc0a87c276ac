// Loading the installed packages at the start of a run: first from their
// stored images (the package files kept in the package database), then each
// package's state and, where no image described it, its database entry.
#pragma once

#include <string>

#include "model/repository.h"

// Sets the console's quiet switch and the system architecture, then fills
// the repository with the installed packages: the stored images in
// /flash/var/pdb/ (a bundle after its members), those in /rw/pckg/.images/,
// then the packages known only by their database entry. Without a package
// database it warns "could not open repo" and leaves the repository empty.
// `root` is the directory the board's tree is seen in (empty on the board).
void loadInstalled(Repository& repository, bool quiet, const std::string& architecture,
                   const std::string& root = std::string());

// Appends a package for every readable stored image of an installed
// package: the image is prefix + name when usePrefix is set, else the file
// "image" in the package's database directory. The package names are those
// of /flash/var/pdb/ whatever the prefix; false when that cannot be opened.
bool readStoredImages(Repository& repository, const std::string& prefix, bool usePrefix,
                      const std::string& root = std::string());
