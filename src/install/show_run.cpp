// The `--show` table. Each field is right-aligned in its width and never cut;
// a longer text shifts the rest of its line.
#include "install/show_run.h"

#include <clocale>
#include <cstdio>
#include <ctime>
#include <locale.h>
#include <string>

#include "model/version.h"

namespace {

constexpr size_t kTimeTextSize = 128;
constexpr int kRuleWidth = 94;
const char* const kBuildTimeFormat = "%b/%d/%Y %H:%M:%S";

// Field widths of a package line (the header uses the same columns).
constexpr int kNameWidth = 16;
constexpr int kDisabledWidth = 1;
constexpr int kBundleWidth = 2;
constexpr int kVersionWidth = 13;
constexpr int kBuiltWidth = 20;
constexpr int kNoteWidth = 40;

// The POSIX locale, whatever the environment asks for, so that month names
// are always the English abbreviations.
locale_t posixLocale() {
  static locale_t locale = newlocale(LC_ALL_MASK, "C", locale_t(0));
  return locale;
}

// The build time as a UTC calendar time; empty when it cannot be converted.
std::string buildTimeText(uint32_t buildTime) {
  const time_t seconds = static_cast<time_t>(buildTime);
  struct tm calendar;
  if (gmtime_r(&seconds, &calendar) == nullptr) return std::string();
  char text[kTimeTextSize];
  size_t length = 0;
  if (locale_t locale = posixLocale())
    length = strftime_l(text, sizeof text, kBuildTimeFormat, &calendar, locale);
  else
    length = strftime(text, sizeof text, kBuildTimeFormat, &calendar);
  return std::string(text, length);
}

// A text right-aligned in `width` columns; a longer one is written whole. A
// text may hold NUL bytes, so it is padded and written by its length.
void writeField(FILE* out, int width, const std::string& text) {
  for (size_t used = text.size(); used < static_cast<size_t>(width); ++used) fputc(' ', out);
  fwrite(text.data(), 1, text.size(), out);
}

void writeHeader(FILE* out) {
  fprintf(out, "%*s    %*s %*s%*s\n", kNameWidth, "Name", kVersionWidth, "Version", kBuiltWidth, "Built", kNoteWidth,
          "Note");
  writeField(out, kRuleWidth, std::string(kRuleWidth, '-'));
  fputc('\n', out);
}

void writePackageLine(FILE* out, const Package& package) {
  writeField(out, kNameWidth, package.name);
  fputc(' ', out);
  writeField(out, kDisabledWidth, package.disabled ? "X" : " ");
  writeField(out, kBundleWidth, package.bundle.name.empty() ? "  " : "B ");
  writeField(out, kVersionWidth, versionText(package.version));
  fputc(' ', out);
  writeField(out, kBuiltWidth, buildTimeText(package.buildTime));
  fputc(' ', out);
  writeField(out, kNoteWidth, package.description);
  fputc('\n', out);
}

}  // namespace

RunReport runShow(const RunRequest& request) {
  const bool whole = openBoard(request);
  FILE* out = request.console.file();
  writeHeader(out);
  for (const auto& package : request.repository.packages) writePackageLine(out, *package);
  fflush(out);
  RunReport report;
  if (!whole) report.outcome = RunOutcome::CommitIncomplete;
  return report;
}
