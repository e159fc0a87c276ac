// Reading and writing file descriptors: the loops that retry an interrupted
// call and carry on after a short count, written once.
#pragma once

#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <string>

#include "platform/file_system.h"

// Calls `call` again for as long as a signal interrupts it (a negative
// result with EINTR); its last result.
template <typename Call>
auto retryInterrupted(Call call) -> decltype(call()) {
  decltype(call()) result;
  do result = call();
  while (result < 0 && errno == EINTR);
  return result;
}

// Reads up to `size` bytes, retrying when a signal interrupts the call.
// Returns the count read, 0 at the end of the file, -1 with errno.
ssize_t readSome(int fd, void* buffer, size_t size);
// The same at `offset`, leaving the file's position alone.
ssize_t readSomeAt(int fd, void* buffer, size_t size, off_t offset);

// Writes all `size` bytes. False, with errno, when they do not all go; a
// write that makes no progress counts as a full disk (ENOSPC).
bool writeAll(int fd, const void* data, size_t size);
// The same at `offset`, leaving the file's position alone.
bool writeAllAt(int fd, const void* data, size_t size, off_t offset);

// Reads the regular file `path` whole into `content` (replacing it). False,
// with errno, when it is no regular file, cannot be read, or is longer than
// `limit` bytes (EFBIG). Without `followLinks` a link at `path` is no
// regular file either (ELOOP).
bool readSmallFile(FileSystem& fs, const std::string& path, size_t limit, std::string* content,
                   bool followLinks = true);
