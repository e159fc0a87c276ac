// Removing an installed package: its files, its package database entry and,
// for the package that carries the boot image, the boot image itself.
#pragma once

#include <string>

#include "model/package.h"
#include "model/repository.h"

class Transaction;

// Stages the removal of everything the package installed and empties its
// file list; its action becomes None. Nothing is deleted before the commit.
// A listed path that names no file below /flash is never removed: it is
// reported through the repository's console. `root` is the directory in which
// the board's tree is seen (empty on the board).
void uninstallPackage(Repository& repository, Package& package, Transaction& transaction,
                      const std::string& root = std::string());
