// Files of the board that the program reads or writes are regular files: a
// named pipe, a device or a directory in their place counts as unreadable,
// and no open may block on one.
#pragma once

#include <sys/types.h>

#include <string>

#include "platform/file_system.h"

// Whether `path` (links followed) is a regular file. Asks without opening.
bool isRegularFile(FileSystem& fs, const std::string& path);

// Opens `path` with `flags` (open(2) flags; O_CLOEXEC is added) and `mode`
// for a new file, without blocking on what is no regular file: such a file
// is refused, the result is -1 and errno tells why (EINVAL for a pipe or
// device, EISDIR for a directory). `size`, when given, gets the file's size.
int openRegularFile(FileSystem& fs, const std::string& path, int flags, unsigned mode = 0644, off_t* size = nullptr);

// Removes whatever stands at `path`, of any kind, a link itself rather than
// what it names; a directory goes with the files directly in it (one that
// holds a directory stays). For the names a program keeps its own records
// under, where anything but its file is damage.
void removeAnyEntry(FileSystem& fs, const std::string& path);
