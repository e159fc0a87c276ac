// Taking a package file apart: its file records written into a directory as
// a board of one processor class installs them below /flash, with the same
// choice of records and the same refusal of unsafe names.
#pragma once

#include <cstddef>
#include <string>

#include "pkgtool/file_report.h"

// Writes the records a board of boardClass (0: none of the classes 1 to 4)
// installs, of every package in the file,
// below directory (made when missing), each with its permission bits.
// *written counts the files. False, with *error naming the file, when the
// package file cannot be read or a file cannot be written.
bool extractRecords(const std::string& path, const std::string& directory, int boardClass, size_t* written,
                    std::string* error);
