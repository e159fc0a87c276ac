// Copying a file's content across file systems for the commit, in fixed
// chunks, into a file the commit has made on the destination's file system.
#pragma once

#include <string>

#include "platform/file_system.h"

class CopyProgress;

// Copies the regular file `source` into the open, empty file `destination`
// and gives it the source's permission bits; the caller makes it durable with
// the rest of its file system. False, with errno telling why, when the source
// is no regular file or cannot be read, or the copy cannot be written whole.
// With a progress, one step is taken after each chunk written.
bool copyInto(FileSystem& fs, const std::string& source, int destination, CopyProgress* progress);
