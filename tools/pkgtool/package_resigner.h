// Signing a package file again: the signature part of every package (each
// member of a bundle) replaced by one made with another key, every other byte
// kept. A package without a signature part gets one after its last part.
#pragma once

#include <string>

#include "pkgfile/file_layout.h"
#include "pkgtool/package_builder.h"

// inPath has the layout given, which must be whole. Writes through a
// temporary file: nothing appears at outPath unless the whole file was
// written; outPath may be inPath. *signedCount counts the packages.
bool resignFile(const std::string& inPath, const FileLayout& layout, const DigestSigner& sign,
                const std::string& outPath, size_t* signedCount, std::string* error);
