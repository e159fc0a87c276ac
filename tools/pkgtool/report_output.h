// What `pkgtool inspect` prints about a file, and the texts other commands
// share with it: modes, build times, dependency entries, verdicts.
#pragma once

#include <ostream>
#include <string>

#include "pkgtool/file_report.h"

void printReport(const FileReport& report, std::ostream& out);

// "ok", "BAD SIGNATURE" or "BROKEN FILE".
const char* verdictWord(const FileReport& report);
// "system 6.40 to 6.49", "dhcp (any version)", "ppp from 1.0, priority -1"
std::string dependencyText(const Dependency& entry, bool withPriority);

// The name of a part type for people ("file container"), or "unknown".
const char* partTypeName(uint32_t type);
// "0x0000ABCD"
std::string hex32(uint32_t value);
// "ordinary", "unregistered" or "invalid".
const char* magicName(const FileLayout& layout);
// "-rwxr-xr-x" for a record's mode ('?' for a file type other than a
// regular file, directory or symbolic link).
std::string modeText(uint32_t mode);
// "2023-11-14 22:13:20 UTC"
std::string buildTimeText(uint32_t seconds);
