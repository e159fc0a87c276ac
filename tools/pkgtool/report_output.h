// What `pkgtool inspect` prints about a file: a readable dump, or one JSON
// object for scripts.
#pragma once

#include <ostream>

#include <nlohmann/json.hpp>

#include "pkgtool/file_report.h"

void printReport(const FileReport& report, std::ostream& out);
nlohmann::json reportJson(const FileReport& report);
// The JSON object as text; bytes that are not UTF-8 (names and texts are
// bytes) become U+FFFD instead of failing the dump.
std::string reportJsonText(const FileReport& report);

// "ordinary", "unregistered" or "invalid".
const char* magicName(const FileLayout& layout);
// "-rwxr-xr-x" for a record's mode ('?' for a file type other than a
// regular file, directory or symbolic link).
std::string modeText(uint32_t mode);
// "2023-11-14 22:13:20 UTC"
std::string buildTimeText(uint32_t seconds);
