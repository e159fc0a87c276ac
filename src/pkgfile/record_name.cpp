#include "pkgfile/record_name.h"

#include <string_view>

bool isSafeRecordName(const std::string& name) {
  if (name.empty()) return false;
  // One pass: a NUL or newline anywhere, a ".." component anywhere, an
  // empty or "." last component.
  size_t start = 0;
  for (size_t i = 0;; ++i) {
    if (i < name.size()) {
      if (name[i] == '\0' || name[i] == '\n') return false;
      if (name[i] != '/') continue;
    }
    const std::string_view component(name.data() + start, i - start);
    if (component == "..") return false;
    if (i == name.size()) return !component.empty() && component != ".";
    start = i + 1;
  }
}
