// The names of file records: which of them a board may write below its
// flash root.
#pragma once

#include <string>

// A name is used as a path below the flash root: it must name a file there
// and never climb out of it. Refused: the empty name, a NUL byte (the system
// would cut the path there), a ".." component, and a name whose last
// component is empty or "." (a directory, never a file).
inline bool isSafeRecordName(const std::string& name) {
  if (name.empty() || name.find('\0') != std::string::npos) return false;
  size_t start = 0;
  for (;;) {
    const size_t end = name.find('/', start);
    const std::string component = name.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (component == "..") return false;
    if (end == std::string::npos) return !component.empty() && component != ".";
    start = end + 1;
  }
}
