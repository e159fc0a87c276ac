// Installing what arrives on one package stream: a single package, or a
// bundle with its members. Each package is judged against the installed ones
// and installed enabled, installed disabled, skipped or refused.
#pragma once

#include <map>
#include <string>

#include "model/dependency.h"
#include "model/install_flags.h"
#include "model/package.h"
#include "model/repository.h"

class PackageStream;
class Transaction;

// Package names whose state the user chose, each with its disabled flag: a
// new version of such a package takes over that state.
using PreservedStates = std::map<std::string, bool>;

// What installBundle returns.
enum BundleResult : int {
  kBundleInstalled = 0,
  // The header cannot be read, the bundle cannot be recorded, or the file
  // turns out broken in a member (its header unreadable, its contents or
  // signature unusable).
  kBundleUnreadable = 1,
  kBundleRefused = 2,
  kBundleNothingInstalled = 3,
};

// `root` below is the directory in which the board's tree is seen: empty on
// the board, a scratch tree in tests.

// Reads one package from the stream (standing at its header part) and
// installs it, replacing the installed package of its name. bundleReference
// is given only for a member of a bundle being installed. imageDirectory
// (may be null) receives the package's database directory when the package
// is kept as a stored image; bootImage (may be null) whether it brings the
// boot image. Returns the installed package (owned by the repository), the
// unchanged installed one for a skipped member or a resumed install, or null.
Package* installPackage(Repository& repository, Transaction& transaction, PackageStream& stream,
                        InstallFlags permitted, const PreservedStates& preservedStates,
                        const Dependency* bundleReference, std::string* imageDirectory, bool* bootImage,
                        const std::string& root = std::string());

// What became of a package read by installPackage.
enum class PackageOutcome {
  Installed,   // unpacked and now in the repository
  Kept,        // not installed; the installed package of its name is kept
  NotNewer,    // not installed, nothing staged: the installed one is as new or newer
  Refused,     // not installed, nothing staged: judging has said why
  Withdrawn,   // unpacked, but the plan afterwards uninstalled it again
  Unreadable,  // its header could not be read
  Failed,      // unpacking failed; the transaction holds a partial install
};

// installPackage that also tells what became of the package.
Package* installPackage(Repository& repository, Transaction& transaction, PackageStream& stream,
                        InstallFlags permitted, const PreservedStates& preservedStates,
                        const Dependency* bundleReference, std::string* imageDirectory, bool* bootImage,
                        PackageOutcome* outcome, const std::string& root = std::string());

// Reads a bundle (the stream standing at its bundle header part) and installs
// its members; members of the installed version that the new one lacks are
// uninstalled.
BundleResult installBundle(Repository& repository, Transaction& transaction, PackageStream& stream,
                           InstallFlags permitted, const PreservedStates& preservedStates,
                           std::string* imageDirectory, bool* bootImage,
                           const std::string& root = std::string());

// installBundle that also tells whether a refused bundle was refused only
// because it is not newer than the installed one (see refusedAsNotNewer).
BundleResult installBundle(Repository& repository, Transaction& transaction, PackageStream& stream,
                           InstallFlags permitted, const PreservedStates& preservedStates,
                           std::string* imageDirectory, bool* bootImage, bool* notNewer,
                           const std::string& root);
