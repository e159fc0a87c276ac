// Readers that turn a package's header parts (the package or bundle header
// and the metadata parts after it) into a PackageInfo (doc/package_format.md).
#pragma once

#include <string>
#include <vector>

#include "model/dependency.h"
#include "model/package.h"
#include "pkgfile/package_stream.h"

constexpr size_t kHeaderPayloadSize = 32;
constexpr size_t kHeaderFlagsSize = 4;
constexpr size_t kNameFieldSize = 16;
constexpr size_t kListCountSize = 2;
constexpr size_t kListEntrySize = 32;

// Reads the current header part (1 or 18) and the metadata parts after it,
// in the order 24, 16, 2, 23, 3, 19, 17, then notes an image part (21). On
// success the current part is the first one not consumed. A failure that
// comes from the file's contents leaves the stream broken, so that loops over
// the members of a bundle end.
bool readPackageHeader(PackageInfo& record, PackageStream& stream);

// Reads the current part's list payload, appending its entries; entries read
// before a failure stay appended.
bool readDependencyList(PackageStream& stream, std::vector<Dependency>& list);

// A package name becomes a directory of the package database: it must not be
// empty, "." or "..", and must hold no "/", no control byte or space (below
// 0x21) and no 0x7F.
bool isSafePackageName(const std::string& name);
