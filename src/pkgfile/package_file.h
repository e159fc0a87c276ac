// Candidate package files: the header data of a package file in a directory,
// with the path it was read from (doc/package_format.md).
#pragma once

#include <string>

#include "model/package.h"
#include "pkgfile/package_stream.h"
#include "platform/file_system.h"

class PackageFile : public PackageInfo {
 public:
  explicit PackageFile(std::string packageName = std::string()) : PackageInfo(std::move(packageName)) {}

  std::string path;  // the path by which the file was opened
};

// Opens and reads a candidate package file: its header parts, and for a
// bundle each member's. False for a broken file; prints nothing.
bool loadPackageFile(FileSystem& fs, PackageFile& record, const std::string& path);

// The reading part of loadPackageFile on an open stream: accepts the header
// part types, reads the header and, for a bundle, its members.
bool readPackageFileParts(PackageInfo& record, PackageStream& stream);
