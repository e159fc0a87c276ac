// pkgtool's command line: the command word and the help text.
#include <cstring>

#include "pkgtool/commands.h"

namespace {

struct Command {
  const char* name;
  int (*run)(int argc, char** argv, std::ostream& out, std::ostream& err);
};

constexpr Command kCommands[] = {
    {"keygen", runKeygen}, {"build", runBuild}, {"bundle", runBundle}, {"inspect", runInspect}, {"verify", runVerify},
};

const char kUsage[] =
    "Usage: pkgtool COMMAND [OPTIONS]\n"
    "Makes, inspects and verifies signed package files (.vpa, .qpa).\n"
    "\n"
    "  pkgtool keygen -o FILE.key [--public FILE.pub]\n"
    "      Makes a new signing key pair. FILE.key holds the private key (mode 0600)\n"
    "      and is never overwritten; FILE.pub holds the public key an installer is\n"
    "      built to trust.\n"
    "\n"
    "  pkgtool build --key FILE.key --name NAME --version VERSION [OPTIONS]\n"
    "                [--root DIR] -o OUT.vpa\n"
    "      Makes a signed package of every regular file below DIR (path relative to\n"
    "      DIR, permission bits kept, byte-wise path order). Other file types are\n"
    "      refused. Without --root the package has no files.\n"
    "      VERSION: 6.40, 6.40.1, 6.41alpha, 6.41beta3, 6.41rc2.\n"
    "      --build-time SECONDS   default: $SOURCE_DATE_EPOCH, else now\n"
    "      --arch ARCH            default: no architecture part (read as i386);\n"
    "                             --arch \"\" makes a package for any architecture\n"
    "      --description TEXT\n"
    "      --depends NAME[:MIN[:MAX]]          repeatable; bounds are versions,\n"
    "      --conflicts NAME[:MIN[:MAX]]        empty for an open bound\n"
    "      --provides NAME:MIN:MAX:PRIORITY    repeatable\n"
    "      --class PATH=N         processor class 1-4 of one file (0: every board)\n"
    "      --boot-image           the package carries the boot image\n"
    "      --no-metadata          no metadata files in the package database\n"
    "      --image                carry an image part (stored whole on the board)\n"
    "      --unregistered         installed without a package database entry\n"
    "      The same inputs and build time give a byte-identical file.\n"
    "\n"
    "  pkgtool bundle --key FILE.key --name NAME --version VERSION\n"
    "                 [--start-disabled MEMBER]... [--arch ARCH] [--description TEXT]\n"
    "                 [--build-time SECONDS] [--no-image] -o OUT.vpa MEMBER.vpa...\n"
    "      Makes a bundle of signed packages, copied unchanged. Each member's\n"
    "      signature must hold under the key. --start-disabled names a member that\n"
    "      is installed disabled. --no-image leaves out the image part, without\n"
    "      which the board takes the bundle apart again (for testing only).\n"
    "\n"
    "  pkgtool inspect [--json] [--key FILE.pub] FILE\n"
    "      Shows the parts, headers, dependency lists, file records and the\n"
    "      signature verdict of every package (default key: the one this build\n"
    "      trusts).\n"
    "\n"
    "  pkgtool verify [--key FILE.pub] FILE...\n"
    "      One line per file: ok, BAD SIGNATURE or BROKEN FILE.\n"
    "\n"
    "Options take their value as the next word or after \"=\".\n"
    "\n"
    "Exit status:\n"
    "  0  success; for inspect and verify: every file reads and every signature holds\n"
    "  1  a package's signature is bad or missing\n"
    "  2  a file is broken (damaged header, lengths, parts) or cannot be read\n"
    "  3  keygen, build or bundle failed; nothing was written\n"
    "  4  the command line is wrong\n";

}  // namespace

void printUsage(std::ostream& out) { out << kUsage; }

int runPkgtool(int argc, char** argv, std::ostream& out, std::ostream& err) {
  if (argc < 2) {
    printUsage(err);
    return kExitUsage;
  }
  const char* word = argv[1];
  if (strcmp(word, "--help") == 0 || strcmp(word, "-h") == 0 || strcmp(word, "help") == 0) {
    printUsage(out);
    return kExitOk;
  }
  for (const Command& command : kCommands)
    if (strcmp(word, command.name) == 0) return command.run(argc - 2, argv + 2, out, err);
  err << "pkgtool: unknown command " << word << "\nTry 'pkgtool --help'.\n";
  return kExitUsage;
}
