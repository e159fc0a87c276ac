// Formatting the notices of planning.
#include "planning/notice.h"

#include <cstdarg>
#include <cstdio>

Notice noticeOf(bool error, const char* format, ...) {
  Notice notice;
  notice.error = error;
  va_list arguments;
  va_start(arguments, format);
  va_list again;
  va_copy(again, arguments);
  const int length = vsnprintf(nullptr, 0, format, arguments);
  va_end(arguments);
  if (length > 0) {
    notice.text.resize(static_cast<size_t>(length) + 1);
    vsnprintf(&notice.text[0], notice.text.size(), format, again);
    notice.text.resize(static_cast<size_t>(length));
  }
  va_end(again);
  return notice;
}
