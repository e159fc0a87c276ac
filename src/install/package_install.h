// Installing what arrives on one package stream: a single package, or a
// bundle with its members. Each package is judged against the installed ones
// and installed enabled, installed disabled, skipped or refused.
#pragma once

#include "install/install_run.h"
#include "model/dependency.h"
#include "platform/byte_source.h"

class PackageStream;

// Reads one package from the stream (standing at its header part) and
// installs it, replacing the installed package of its name. bundleReference
// is given only for a member of a bundle being installed.
InstallResult installPackage(InstallRun& run, PackageStream& stream, const Dependency* bundleReference = nullptr);

// Reads a bundle (the stream standing at its bundle header part) and installs
// its members; members of the installed version that the new one lacks are
// uninstalled.
InstallResult installBundle(InstallRun& run, PackageStream& stream);

// Installs the package or bundle on `input`, hashing it for the signature
// check and copying every byte read to `tee` (may be null).
InstallResult installFromStream(InstallRun& run, ByteSource* input, ByteSink* tee);

