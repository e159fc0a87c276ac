#include "cli/command_line.h"

#include <cstring>

namespace {

bool is(const char* word, const char* option) { return std::strcmp(word, option) == 0; }

// Options that older callers still pass; they change nothing.
bool isIgnoredOption(const char* word) {
  return is(word, "-b") || is(word, "--force") || is(word, "--noupgrade") || is(word, "-i");
}

}  // namespace

Mode parseCommandLine(int argc, const char* const* argv, RunOptions& options, FILE* out) {
  // Each word that ends the reading gives its mode, unless --show came first.
  const auto last = [&options](Mode mode) { return options.mode = options.mode == Mode::Show ? Mode::Show : mode; };
  for (int i = 1; i < argc; ++i) {
    const char* word = argv[i];
    if (is(word, "--cleanup")) {
      return last(Mode::Cleanup);
    } else if (is(word, "--safe")) {
      options.commitNow = false;
    } else if (is(word, "-r") && i + 1 < argc) {
      options.root = argv[++i];  // a trailing -r falls through to the usage line
    } else if (is(word, "-")) {
      return last(Mode::Image);
    } else if (is(word, "-q")) {
      options.quiet = true;
    } else if (is(word, "-down")) {
      options.installFlags |= InstallFlags::Downgrade;
    } else if (is(word, "--reinstall")) {
      fputs("\nResuming upgrade...\n", out);
      fflush(out);
      options.installFlags |= InstallFlags::Reinstall;
    } else if (isIgnoredOption(word)) {
      continue;
    } else if (is(word, "--commit")) {
      return options.mode = Mode::Commit;
    } else if (is(word, "--cancel")) {
      return options.mode = Mode::Cancel;
    } else if (is(word, "--show")) {
      options.mode = Mode::Show;
    } else {
      return options.mode = Mode::Usage;
    }
  }
  return options.mode;
}
