// pkgtool's command line: the command word, help and version.
#include <cstdio>
#include <cstring>

#include "pkgtool/command_help.h"
#include "pkgtool/commands.h"
#include "pkgtool/json_outcome.h"
#include "signature/signing_key.h"

namespace {

const char kPkgtoolVersion[] = PKGTOOL_VERSION;

struct Command {
  const char* name;
  CommandRunner run;
  bool ownJson;  // takes --json itself and prints its own object
};

// In the order of the help's overview; a new command goes into its group.
constexpr Command kCommands[] = {
    // Making package files.
    {"keygen", runKeygen, false},
    {"build", runBuild, false},
    {"bundle", runBundle, false},
    {"sign", runSign, false},
    // Seeing inside package files.
    {"inspect", runInspect, true},
    {"verify", runVerify, false},
    {"list", runList, false},
    {"extract", runExtract, false},
    // Versions.
    {"version", runVersion, false},
    // Asking a board.
    {"files", runFiles, false},
    {"owner", runOwner, false},
    {"status", runStatus, false},
    {"plan", runPlan, true},
};

bool isHelpWord(const char* word) { return strcmp(word, "--help") == 0 || strcmp(word, "-h") == 0; }

// "--help" or "-h" among a command's words, before any "--".
bool asksForHelp(int argc, char** argv) {
  for (int i = 0; i < argc && strcmp(argv[i], "--") != 0; ++i)
    if (isHelpWord(argv[i])) return true;
  return false;
}

void printVersion(std::ostream& out) {
  char hex[3];
  out << "pkgtool " << kPkgtoolVersion << "\ntrusted key: ";
  // As the public-key line of its key file.
  for (unsigned char byte : builtInKey().point) {
    snprintf(hex, sizeof hex, "%02x", byte);
    out << hex;
  }
  out << "\n";
}

int runHelp(int argc, char** argv, std::ostream& out, std::ostream& err) {
  if (argc == 0) {
    printOverview(out);
    return kExitOk;
  }
  if (argc == 1 && printCommandHelp(argv[0], out)) return kExitOk;
  err << "pkgtool help: " << (argc == 1 ? std::string("no command ") + argv[0] : "give one command") << "\n"
      << "Try 'pkgtool --help'.\n";
  return kExitUsage;
}

}  // namespace

int runPkgtool(int argc, char** argv, std::ostream& out, std::ostream& err) {
  if (argc < 2) {
    printOverview(err);
    return kExitUsage;
  }
  const char* word = argv[1];
  if (isHelpWord(word) || strcmp(word, "help") == 0) return runHelp(argc - 2, argv + 2, out, err);
  if (strcmp(word, "--version") == 0) {
    printVersion(out);
    return kExitOk;
  }
  for (const Command& command : kCommands) {
    if (strcmp(word, command.name) != 0) continue;
    if (asksForHelp(argc - 2, argv + 2)) return runHelp(1, argv + 1, out, err);
    if (jsonWordIndex(argc - 2, argv + 2) >= 0)
      return runWithJsonOutcome(command.name, command.run, command.ownJson, argc - 2, argv + 2, out, err);
    return command.run(argc - 2, argv + 2, out, err);
  }
  err << "pkgtool: unknown command " << word << "\nTry 'pkgtool --help'.\n";
  return kExitUsage;
}
