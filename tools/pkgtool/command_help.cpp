// The help texts of pkgtool, one per command, grouped as the overview shows
// them.
#include "pkgtool/command_help.h"

namespace {

struct CommandHelp {
  const char* group;     // the overview's heading above the command
  const char* name;
  const char* synopsis;  // the usage lines, without "pkgtool "
  const char* text;      // what it does, its options, its exit statuses
};

constexpr CommandHelp kHelp[] = {
    {"Making package files", "keygen",
     "keygen -o FILE.key [--public FILE.pub]\n"
     "keygen --from FILE.key --public FILE.pub\n",
     "Makes a new signing key pair. FILE.key holds the private key (mode 0600);\n"
     "FILE.pub holds the public key an installer is built to trust. With --from,\n"
     "writes only the public file of the private key FILE.key. A key file is never\n"
     "overwritten.\n"
     "  -o FILE.key          the new private key\n"
     "  --public FILE.pub    the public key\n"
     "  --from FILE.key      an existing private key whose public file to write\n"
     "Exit status:\n"
     "  0  the files were written\n"
     "  2  the key of --from is broken or cannot be read\n"
     "  3  a file exists already, no key could be made, or a file could not be\n"
     "     written; nothing was written\n"
     "  4  the command line is wrong (-o and --public naming one file too)\n"},
    {"Making package files", "build",
     "build --key FILE.key --name NAME --version VERSION [OPTIONS] [--root DIR] -o OUT.vpa\n",
     "Makes a signed package of every regular file below DIR (path relative to\n"
     "DIR, permission bits kept, byte-wise path order). Other file types and file\n"
     "names holding a newline are refused; empty directories are left out with a\n"
     "warning, and so is OUT.vpa when it lies inside DIR. Without --root the package\n"
     "has no files. The same inputs and build time give a byte-identical file.\n"
     "  --key FILE.key         the private key that signs\n"
     "  --name NAME            1 to 16 bytes, no \"/\", blank or control character\n"
     "  --version VERSION      6.40, 6.40.1, 6.41alpha, 6.41beta3, 6.41rc2\n"
     "  -o OUT.vpa             the package file to write\n"
     "  --root DIR             the tree of files to package\n"
     "  --build-time SECONDS   default: $SOURCE_DATE_EPOCH, else now\n"
     "  --arch ARCH            default: no architecture part (read as i386);\n"
     "                         --arch \"\" makes a package for any architecture\n"
     "  --description TEXT\n"
     "  --depends NAME[:MIN[:MAX]]          repeatable; bounds are versions,\n"
     "  --conflicts NAME[:MIN[:MAX]]        empty for an open bound\n"
     "  --provides NAME:MIN:MAX:PRIORITY    repeatable\n"
     "  --class PATH=N         processor class 1-4 of one file (0: every board)\n"
     "  --boot-image           the package carries the boot image\n"
     "  --no-metadata          no metadata files in the package database\n"
     "  --image                carry an image part (stored whole on the board)\n"
     "  --unregistered         installed without a package database entry\n"
     "Exit status:\n"
     "  0  the package was written\n"
     "  2  the key is broken or cannot be read\n"
     "  3  the tree cannot be packaged or the output cannot be written; nothing\n"
     "     was written\n"
     "  4  the command line is wrong\n"},
    {"Making package files", "bundle",
     "bundle [--key FILE.pub] --name NAME --version VERSION [OPTIONS] -o OUT.vpa MEMBER.vpa...\n",
     "Makes a bundle of signed packages, copied unchanged. Each member's signature\n"
     "must hold under the key, and no member may carry the bundle's name; a member\n"
     "made for another architecture than the bundle is warned of. The bundle's own\n"
     "header is not signed. One MEMBER may be \"-\", standard input.\n"
     "  --key FILE.pub             the key the members' signatures must hold under\n"
     "                             (a private key serves too); default: the key this\n"
     "                             build of installer trusts\n"
     "  --name NAME, --version VERSION, -o OUT.vpa, --arch ARCH, --description TEXT,\n"
     "  --build-time SECONDS       as for build\n"
     "  --start-disabled MEMBER    repeatable; a member installed disabled\n"
     "  --no-image                 no image part, without which the board takes the\n"
     "                             bundle apart again (for testing only)\n"
     "Exit status:\n"
     "  0  the bundle was written\n"
     "  1  a member's signature is bad or missing; nothing was written\n"
     "  2  a member or the key is broken or cannot be read; nothing was written\n"
     "  3  the members do not make a bundle (a bundle among them, a name twice or\n"
     "     the bundle's, --start-disabled naming none) or the output cannot be\n"
     "     written; nothing was written\n"
     "  4  the command line is wrong\n"},
    {"Making package files", "sign",
     "sign --key FILE.key -o OUT.vpa IN.vpa\n",
     "Replaces the signature of a package, or of every member of a bundle, with\n"
     "one made with FILE.key. A package without a signature part gets one; every\n"
     "other byte stays as it was. IN.vpa may be OUT.vpa, or \"-\" for standard input.\n"
     "  --key FILE.key    the private key that signs\n"
     "  -o OUT.vpa        the package file to write\n"
     "Exit status:\n"
     "  0  the signed file was written\n"
     "  2  IN.vpa or the key is broken or cannot be read; nothing was written\n"
     "  3  the output cannot be written; nothing was written\n"
     "  4  the command line is wrong\n"},
    {"Seeing inside package files", "inspect",
     "inspect [--json] [--key FILE.pub] FILE\n",
     "Shows the parts, headers, dependency lists, file records and signature\n"
     "verdict of every package, ending in \"verdict: ok\", \"verdict: BAD SIGNATURE\"\n"
     "or \"verdict: BROKEN FILE: WHAT\". A file record name the installer refuses\n"
     "makes the file broken. FILE \"-\" is standard input.\n"
     "  --json            one JSON object instead, with the verdict ok,\n"
     "                    bad_signature, broken or unreadable\n"
     "  --key FILE.pub    the key to check against (a private key serves too);\n"
     "                    default: the key this build of installer trusts\n"
     "Exit status:\n"
     "  0  the file reads and every signature holds\n"
     "  1  a package's signature is bad or missing\n"
     "  2  the file or the key is broken or cannot be read\n"
     "  4  the command line is wrong\n"},
    {"Seeing inside package files", "verify",
     "verify [--key FILE.pub] FILE...\n",
     "One line per file: \"FILE: ok (N packages)\", \"FILE: BAD SIGNATURE: NAME bad\",\n"
     "\"FILE: BROKEN FILE: WHAT\" or \"FILE: UNREADABLE: WHY\". FILE \"-\" is standard\n"
     "input.\n"
     "  --key FILE.pub    as for inspect\n"
     "Exit status:\n"
     "  0  every file reads and every signature holds\n"
     "  1  a signature is bad or missing, and no file is broken\n"
     "  2  a file or the key is broken or cannot be read\n"
     "  4  the command line is wrong\n"},
    {"Seeing inside package files", "list",
     "list [-0] FILE\n",
     "One line per file record: mode, processor class, size and path. In a bundle\n"
     "each line begins with the member's name. The signature is not checked.\n"
     "FILE \"-\" is standard input.\n"
     "  -0    end each record with a NUL byte instead of a newline\n"
     "Exit status:\n"
     "  0  the file reads\n"
     "  2  the file is broken or cannot be read\n"
     "  4  the command line is wrong\n"},
    {"Seeing inside package files", "extract",
     "extract [--class N] [--no-verify] [--key FILE.pub] -C DIR FILE\n",
     "Writes the file records into DIR with their modes, as a board of processor\n"
     "class N installs them: regular files meant for every board (class 0) and\n"
     "for class N; a bundle's members one after another. Checks every signature\n"
     "first, and refuses a file record name the installer refuses; nothing is\n"
     "written then. Each file appears whole or not at all. FILE \"-\" is standard\n"
     "input.\n"
     "  -C DIR            where to write; made when missing\n"
     "  --class N         the board's processor class, 0 to 4 (default 0: only the\n"
     "                    records meant for every board)\n"
     "  --no-verify       do not check the signatures\n"
     "  --key FILE.pub    as for inspect\n"
     "Exit status:\n"
     "  0  every record was written\n"
     "  1  a signature is bad or missing; nothing was written\n"
     "  2  the file or the key is broken or cannot be read (an unsafe record name\n"
     "     too); nothing was written\n"
     "  3  a file could not be written; the files before it were\n"
     "  4  the command line is wrong\n"},
    {"Versions", "version",
     "version compare A OP B\n",
     "Whether version A stands in relation OP to version B, in the system's own\n"
     "order: the packed number, so 6.41alpha < 6.41beta3 < 6.41rc2 < 6.41 < 6.41.1.\n"
     "OP is one of lt le eq ne ge gt. Versions are written as build takes them.\n"
     "Exit status:\n"
     "  0  the relation holds\n"
     "  1  it does not\n"
     "  4  the command line is wrong, a version included\n"},
    // The board commands only read: the package database and stored images
    // below ROOT, with the installer's own loader.
    {"Asking a board", "files",
     "files [-r ROOT] NAME\n",
     "The files of the installed package NAME, one board path a line.\n"
     "  -r ROOT    the board's tree (default /)\n"
     "Exit status:\n"
     "  0  NAME is installed\n"
     "  1  NAME is not installed\n"
     "  2  the board has no package database\n"
     "  4  the command line is wrong\n"},
    {"Asking a board", "owner",
     "owner [-r ROOT] PATH\n",
     "The installed packages whose files include PATH, a board path below\n"
     "/flash (\"//\", \".\" and \"..\" taken as the kernel takes them): \"NAME: PATH\"\n"
     "a line.\n"
     "  -r ROOT    the board's tree (default /)\n"
     "Exit status:\n"
     "  0  a package owns PATH\n"
     "  1  none does\n"
     "  2  the board has no package database\n"
     "  4  the command line is wrong, PATH not below /flash included\n"},
    {"Asking a board", "status",
     "status [-r ROOT] [NAME]\n",
     "What the board holds of the installed package NAME, or of every installed\n"
     "package: version, build time, state, dependencies, bundle and stored image.\n"
     "The state is the one the package database holds now: \"enabled\" or\n"
     "\"disabled\", with \"(user)\" when a user's request set it (a new version\n"
     "keeps it) or \"(auto)\" when the installer disabled the package itself (it\n"
     "enables it again when it can). \"next run:\" tells an action scheduled in\n"
     "/ram/pdb/NAME/schedule (uninstall, enable, disable), or an unreadable entry\n"
     "that the next run uninstalls.\n"
     "  -r ROOT    the board's tree (default /)\n"
     "Exit status:\n"
     "  0  NAME is installed (without NAME: always)\n"
     "  1  NAME is not installed\n"
     "  2  the board has no package database\n"
     "  4  the command line is wrong\n"},
    {"Asking a board", "plan",
     "plan [-r ROOT] [--down] [--reinstall] [--safe] [--json]\n",
     "The upgrade `installer -r ROOT` would do now, run by the installer's own\n"
     "code on a board that records instead of writing: nothing is written\n"
     "anywhere, and $TMPDIR is not used. It prints what the run would print, then\n"
     "the paths the run would add (+), change (~) and remove (-), with the kind,\n"
     "mode and size each is left with, and the verdict with the run's exit\n"
     "status. The board's architecture is the environment variable arch (default\n"
     "i386), as for the installer.\n"
     "  -r ROOT       the board's tree (default /)\n"
     "  --down        permit downgrades, as installer -down (or /rw/DOWNGRADE)\n"
     "  --reinstall   resume mode, as installer --reinstall\n"
     "  --safe        save the changes as /ram/MANIFEST, as installer --safe\n"
     "  --json        one JSON object instead: the run's lines, the changes and\n"
     "                the verdict\n"
     "Exit status:\n"
     "  0, 1, 28  the run's own: done, failed, not enough space\n"
     "  2  the board has no package database\n"
     "  4  the command line is wrong\n"},
};

const char kOverviewTop[] =
    "Usage: pkgtool COMMAND [OPTIONS]\n"
    "Makes, inspects, takes apart and re-signs signed package files (.vpa, .qpa),\n"
    "and asks a board what is installed.\n";

const char kOverviewBottom[] =
    "\n"
    "pkgtool help COMMAND, or pkgtool COMMAND --help, tells a command's options and\n"
    "exit statuses; pkgtool --version the tool's version and the key it trusts.\n"
    "Options take their value as the next word or after \"=\"; after \"--\" every word\n"
    "is a file. -o - writes to standard output. With --json after the command\n"
    "word, every outcome, errors too, is one JSON object on standard output.\n"
    "\n"
    "Exit status, the same for the same cause in every command:\n"
    "  0  success\n"
    "  1  no: a signature is bad or missing (a bundle member's too), a version\n"
    "     relation does not hold, nothing installed has that name or owns that\n"
    "     path, the upgrade would be cancelled or find too little space\n"
    "  2  a package file or key file is broken or cannot be read; a board has no\n"
    "     package database\n"
    "  3  nothing was made: a tree or members that cannot go into the output, or\n"
    "     an output that cannot be written\n"
    "  4  the command line is wrong\n";

// The usage lines, the first after `first`, the others after `next`.
void printSynopsis(const CommandHelp& help, const char* first, const char* next, std::ostream& out) {
  const std::string synopsis = help.synopsis;
  const char* prefix = first;
  for (size_t start = 0, end; start < synopsis.size(); start = end + 1, prefix = next) {
    end = synopsis.find('\n', start);
    out << prefix << "pkgtool " << synopsis.substr(start, end - start) << "\n";
  }
}

}  // namespace

void printOverview(std::ostream& out) {
  out << kOverviewTop;
  const char* group = "";
  for (const CommandHelp& help : kHelp) {
    if (help.group != group) out << "\n" << help.group << ":\n";
    group = help.group;
    printSynopsis(help, "  ", "  ", out);
  }
  out << kOverviewBottom;
}

bool printCommandHelp(const std::string& command, std::ostream& out) {
  for (const CommandHelp& help : kHelp) {
    if (command != help.name) continue;
    printSynopsis(help, "Usage: ", "       ", out);
    out << help.text;
    return true;
  }
  return false;
}
