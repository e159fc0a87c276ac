#include "cli/command_line.h"

#include <cstring>

namespace {

bool is(const char* word, const char* option) { return std::strcmp(word, option) == 0; }

// Options that older callers still pass; they change nothing.
bool isIgnoredOption(const char* word) {
  return is(word, "-b") || is(word, "--force") || is(word, "--noupgrade") || is(word, "-i");
}

}  // namespace

CommandAction parseCommandLine(int argc, const char* const* argv, RunOptions& options, FILE* out) {
  for (int i = 1; i < argc; ++i) {
    const char* word = argv[i];
    if (is(word, "--cleanup")) {
      options.cleanupMode = true;
      break;  // later words are not read
    } else if (is(word, "--safe")) {
      options.commitNow = false;
    } else if (is(word, "-r") && i + 1 < argc) {
      options.root = argv[++i];  // a trailing -r falls through to the usage line
    } else if (is(word, "-")) {
      options.fromStdin = true;
      break;
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
      return CommandAction::Commit;
    } else if (is(word, "--cancel")) {
      return CommandAction::Cancel;
    } else if (is(word, "--show")) {
      options.showMode = true;
    } else {
      return CommandAction::Usage;
    }
  }
  return CommandAction::Run;
}

void printUsage(FILE* out) { fputs("usage: installer [-q] [-r <root>] [-]\n", out); }
