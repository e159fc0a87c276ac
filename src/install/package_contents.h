// Installing a package's contents from its package stream: the image part
// passed over, the file records unpacked onto flash through the run's
// transaction, the signature checked and the database entry staged. The
// format of file records and signatures is told in doc/package_format.md.
#pragma once

#include "install/install_run.h"

class PackageStream;

// Whether the package is kept whole as the boot image instead of being
// unpacked: it brings the boot image and the environment variable
// "bootimage" is set (to any value).
bool keptAsBootImage(const Package& package);

// Consumes the package's parts after its header: the image part, the file
// container and the signature part. True when the package is installed in
// the transaction; false, reported (except for an unusable database entry),
// when it is not. On success the stream stands at the part after the
// signature: for a bundle, the next member's header. A package outside a
// bundle is its stream's last: anything after its signature, which no
// signature covers, makes it broken.
bool installContents(InstallRun& run, Package& package, PackageStream& stream);

// Reads a package that is not installed past its contents, through the hash,
// and checks its signature, so that no byte of a package stream stays
// unverified: the image part and the file container are skipped, the
// signature part must hold. False, reported as a broken package, when it does
// not. On success the stream stands at the part after the signature.
bool verifyPassedOver(Console& console, const Package& package, PackageStream& stream);

// Installs the file records of the current part, a file container. Records
// that are not regular files, or are meant for another class of board, are
// passed over. False, reported, when a record cannot be installed; files
// staged before stay staged.
bool unpackFiles(InstallRun& run, Package& package, PackageStream& stream);

// The progress line while the package's stream is read: "installing ", then
// " (disabled) " for a disabled package outside a bundle, then its display name.
void showInstallProgress(Console& console, const Package& package, PackageStream& stream);
