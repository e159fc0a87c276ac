// The `--show` table. Each field is right-aligned in its width and never cut;
// a longer text shifts the rest of its line.
#include "cli/package_listing.h"

#include <clocale>
#include <ctime>
#include <iomanip>
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

void writeHeader(std::ostream& out) {
  out << std::setw(kNameWidth) << "Name" << "    " << std::setw(kVersionWidth) << "Version" << ' '
      << std::setw(kBuiltWidth) << "Built" << std::setw(kNoteWidth) << "Note" << '\n';
  out << std::string(kRuleWidth, '-') << '\n';
}

void writePackageLine(std::ostream& out, const Package& package) {
  out << std::setw(kNameWidth) << package.name << ' ';
  out << std::setw(kDisabledWidth) << (package.disabled ? "X" : " ");
  out << std::setw(kBundleWidth) << (package.bundle.name.empty() ? "  " : "B ");
  out << std::setw(kVersionWidth) << versionText(package.version) << ' ';
  out << std::setw(kBuiltWidth) << buildTimeText(package.buildTime) << ' ';
  out << std::setw(kNoteWidth) << package.description << '\n';
}

}  // namespace

void listPackages(const Repository& repository, std::ostream& out) {
  // Right alignment with blanks, as the columns expect, whatever the caller
  // left on the stream; its own settings come back afterwards.
  const std::ios::fmtflags savedFlags = out.flags();
  const char savedFill = out.fill(' ');
  out.setf(std::ios::right, std::ios::adjustfield);

  writeHeader(out);
  for (const auto& package : repository.packages) writePackageLine(out, *package);
  out.flush();

  out.fill(savedFill);
  out.flags(savedFlags);
}
