// Removing an installed package: its files, its package database entry and,
// for the package that carries the boot image, the boot image itself.
#pragma once

#include <string>
#include <vector>

#include "model/package.h"
#include "model/repository.h"

class Transaction;

// Stages, through the transaction, the removal of everything the package
// installed and empties its file list; its action becomes None. Nothing is
// deleted before the commit. A file that a package of another name in
// `repository` (installed, or installed by this run) lists too stays. A
// listed path that names no file below /flash is never removed: such paths
// are returned, for the caller to report.
std::vector<std::string> uninstallPackage(Package& package, Repository& repository, Transaction& transaction);
