// What planning has to say about a decision (a candidate refused or omitted,
// an action that cannot be carried out), in the order it arose: the caller
// puts it on the console.
#pragma once

#include <string>
#include <vector>

struct Notice {
  bool error = false;  // an error rather than a warning
  std::string text;
};

using Notices = std::vector<Notice>;

// A notice with the text formatted from `format`.
Notice noticeOf(bool error, const char* format, ...) __attribute__((format(printf, 2, 3)));
