// Candidate package files: reading a package directory, keeping the best file
// of each package, and ordering the survivors so that each comes after what it
// needs.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "model/package.h"
#include "pkgfile/package_file.h"
#include "planning/notice.h"

// The candidates of an upgrade run; the list owns its records.
using CandidateList = std::vector<std::unique_ptr<PackageFile>>;

// Appends every readable ".vpa" and ".qpa" file of `directory` (ending in "/")
// to `candidates`, in directory order; hidden files are passed over. A file
// that cannot be read is left out, with a notice of a broken package.
Notices collectCandidates(FileSystem& fs, const std::string& directory, CandidateList* candidates);

// Keeps the best candidate of each package (the newest, or with `downgrade`
// the oldest) and orders the rest by dependency. Dropped candidates are
// destroyed; the notices say which were omitted for a better one.
Notices selectCandidates(CandidateList* candidates, bool downgrade);

// The same on borrowed records, such as lists of installed packages: dropped
// ones are only left out of the list.
Notices selectCandidates(std::vector<Package*>* candidates, bool downgrade);
