#include "pkgfile/record_name.h"

bool isSafeRecordName(const std::string& name) {
  if (name.empty() || name.find_first_of(std::string("\0\n", 2)) != std::string::npos) return false;
  size_t start = 0;
  for (;;) {
    const size_t end = name.find('/', start);
    const std::string component = name.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (component == "..") return false;
    if (end == std::string::npos) return !component.empty() && component != ".";
    start = end + 1;
  }
}
