// Installing package streams: one package file or the system image on
// standard input, and the upgrade run over the package directories on flash.
#pragma once

#include <streambuf>
#include <string>

#include "model/install_flags.h"
#include "model/repository.h"
#include "install/package_install.h"

class Transaction;

// The package directories of an upgrade run, the second searched only when
// the first holds no package file.
constexpr char kFirstPackageDirectory[] = "/flash/rw/pckg/";
constexpr char kSecondPackageDirectory[] = "/flash/var/pckg/";
// Present, it allows downgrades for one upgrade run.
constexpr char kDowngradeMarker[] = "/rw/DOWNGRADE";

// What installing a stream gave: 0 installed; 1 a single package not
// installed; a bundle stream gives installBundle's result.
constexpr int kStreamInstalled = 0;
constexpr int kPackageNotInstalled = 1;

// `root` below is the directory in which the board's tree is seen: empty on
// the board, a scratch tree in tests.

// Installs the package or bundle on `input`, hashing it for the signature
// check and copying every byte read to `tee` (may be null). databaseDirectory
// and bootImage (may be null) receive where the stored image belongs and
// whether it is the boot image; notNewer (may be null) whether judging left the
// package or bundle out, before anything of it was staged, because the
// installed package of its name is as new or newer.
int installFromStream(Repository& repository, Transaction& transaction, std::streambuf* input,
                      InstallFlags flags, const PreservedStates& preservedStates, std::streambuf* tee,
                      std::string* databaseDirectory, bool* bootImage, bool* notNewer = nullptr,
                      const std::string& root = std::string());

// Installs the package files of the package directories in dependency order,
// places their stored images and enables again what was active before. A
// package that is not newer than the installed one (already installed, or
// older without permission to downgrade) is passed over with its warning;
// any other package that is not installed (refused for a missing dependency,
// another architecture, a conflict, or broken) cancels the whole transaction
// and ends the run: the set of packages asked for goes in whole or not at all.
void runUpgrade(Repository& repository, Transaction& transaction, InstallFlags flags,
                const std::string& root = std::string());

// The board path of a package's stored image, cut to 127 characters.
std::string storedImagePath(const std::string& name);
