// A small tmpfs mounted inside a scratch tree for one test (a second file
// system for moves that must copy, or a disk that fills up), unmounted again
// when the object goes.
#pragma once

#include <cstddef>
#include <string>

class TmpfsMount {
 public:
  // Makes `path` if needed and mounts a tmpfs of `bytes` (rounded up to
  // whole pages by the kernel) there, inside the private mount namespace.
  TmpfsMount(const std::string& path, size_t bytes);
  ~TmpfsMount();
  TmpfsMount(const TmpfsMount&) = delete;
  TmpfsMount& operator=(const TmpfsMount&) = delete;

  bool mounted() const { return mounted_; }
  // Why the mount was not made; for GTEST_SKIP messages.
  const std::string& error() const { return error_; }

 private:
  std::string path_;
  bool mounted_ = false;
  std::string error_;
};
