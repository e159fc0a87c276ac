#include "support/board.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <sstream>

#include "support/mount_namespace.h"

#ifndef INSTALLER_BINARY
#define INSTALLER_BINARY "installer"
#endif
#ifndef INSTALLER_BINARY_IS_STATIC
#define INSTALLER_BINARY_IS_STATIC 1
#endif
// A cross-built binary runs through an emulator: INSTALLER_EMULATOR is the
// command the tests themselves run under, INSTALLER_CHROOT_EMULATOR a static
// emulator that is copied into the root for the runs inside it. Words are
// separated by blanks; both are empty in a native build.
#ifndef INSTALLER_EMULATOR
#define INSTALLER_EMULATOR ""
#endif
#ifndef INSTALLER_CHROOT_EMULATOR
#define INSTALLER_CHROOT_EMULATOR ""
#endif

namespace {

const char* const kBoardDirs[] = {"flash",          "flash/boot", "flash/var",  "flash/var/pdb", "flash/rw",
                                  "flash/rw/pckg",  "flash/var/pckg", "ram",    "ram/pdb",       "rw", "dev"};
// What a dynamically linked (or sanitized) binary needs inside the root;
// bound from the host for the length of one run.
const char* const kLibraryDirs[] = {"lib", "lib64", "usr", "proc"};
constexpr char kBinaryName[] = "installer";
// Far longer than any run of a test takes, even under an emulator.
constexpr unsigned kRunTimeoutSeconds = 120;

std::string dependencyLines(const std::vector<Dependency>& list, bool withPriority) {
  std::ostringstream out;
  for (const Dependency& d : list) {
    out << d.name << ' ' << d.min << ' ' << d.max;
    if (withPriority) out << ' ' << d.priority;
    out << '\n';
  }
  return out.str();
}

std::string fileLines(const std::vector<std::string>& files) {
  std::string out;
  for (const std::string& file : files) out += (file.empty() || file[0] != '/' ? file : file.substr(1)) + "\n";
  return out;
}

// In the child, before exec: binds the host's libraries into the root, in a
// mount namespace of the child's own that ends with it.
void bindLibraries(const std::string& root) {
  if (::unshare(CLONE_NEWNS) != 0) return;
  for (const char* dir : kLibraryDirs) {
    std::string host = std::string("/") + dir;
    ::mkdir((root + host).c_str(), 0755);
    ::mount(host.c_str(), (root + host).c_str(), nullptr, MS_BIND | MS_REC, nullptr);
  }
}

int openForChild(const std::string& path, int flags) { return ::open(path.c_str(), flags | O_CLOEXEC, 0644); }

std::vector<std::string> blankSeparatedWords(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// The host program of the chroot emulator and the name its copy has in the
// root; empty in a native build.
std::string chrootEmulatorProgram() {
  std::vector<std::string> words = blankSeparatedWords(INSTALLER_CHROOT_EMULATOR);
  return words.empty() ? std::string() : words[0];
}
std::string chrootEmulatorName() {
  const std::string program = chrootEmulatorProgram();
  return program.substr(program.rfind('/') + 1);
}

// INSTALLER_EMULATED_CPU, when set, names the processor the emulator plays
// instead of the one the build chose, so that one suite can be run as boards
// of other processor classes.
void chooseEmulatedCpu(std::vector<std::string>& words) {
  const char* cpu = std::getenv("INSTALLER_EMULATED_CPU");
  if (!cpu || !*cpu) return;
  for (size_t i = 0; i + 1 < words.size(); ++i) {
    if (words[i] == "-cpu") words[i + 1] = cpu;
  }
}

// The words that go before the program and its arguments.
std::vector<std::string> emulatorPrefix(bool inside) {
  std::vector<std::string> words = blankSeparatedWords(inside ? INSTALLER_CHROOT_EMULATOR : INSTALLER_EMULATOR);
  if (inside && !words.empty()) words[0] = "/" + chrootEmulatorName();
  chooseEmulatedCpu(words);
  return words;
}

}  // namespace

std::string installerBinary() {
  const char* dir = std::getenv("INSTALLER_BUILD_DIR");
  if (dir && *dir) {
    std::string candidate = std::string(dir) + "/" + kBinaryName;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return INSTALLER_BINARY;
}

Board::Board() : root_(scratch_ / "root") {
  ::umask(022);  // the modes of new directories are part of what tests compare
  usable_ = enterPrivateMountNamespace(&why_);
  ::mkdir(root_.c_str(), 0755);
  for (const char* dir : kBoardDirs) ::mkdir(path(std::string("/") + dir).c_str(), 0755);
}

bool Board::write(const std::string& boardPath, const std::string& content, unsigned mode) const {
  return writeFile(path(boardPath), content) && ::chmod(path(boardPath).c_str(), mode) == 0;
}

bool Board::writeDatabaseEntry(const DatabaseEntry& entry) const {
  std::string dir = "/flash/var/pdb/" + entry.name + "/";
  bool ok = ::mkdir(path(dir).c_str(), 0755) == 0 || errno == EEXIST;
  if (entry.version)
    ok = ok && write(dir + "version",
                     std::to_string(entry.version->first) + " " + std::to_string(entry.version->second) + "\n");
  if (entry.deps) ok = ok && write(dir + "deps", dependencyLines(*entry.deps, false));
  if (entry.provides) ok = ok && write(dir + "provides", dependencyLines(*entry.provides, true));
  if (entry.conflicts) ok = ok && write(dir + "conflicts", dependencyLines(*entry.conflicts, false));
  if (entry.bundle) ok = ok && write(dir + "bundle", *entry.bundle + "\n");
  if (entry.files) ok = ok && write(dir + "files", fileLines(*entry.files));
  if (entry.disabled) ok = ok && write(dir + "disabled", *entry.disabled + "\n");
  if (entry.enabled) ok = ok && write(dir + "enabled", *entry.enabled + "\n");
  return ok;
}

bool Board::writeSchedule(const std::string& name, const std::string& word) const {
  return write("/ram/pdb/" + name + "/schedule", word + "\n");
}

bool Board::writeManifest(const std::vector<std::string>& lines) const {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return write("/ram/MANIFEST", text);
}

TmpfsMount* Board::mountTmpfs(const std::string& boardPath, size_t bytes) {
  auto mount = std::make_unique<TmpfsMount>(path(boardPath), bytes);
  if (!mount->mounted()) {
    why_ = mount->error();
    return nullptr;
  }
  mounts_.push_back(std::move(mount));
  return mounts_.back().get();
}

TreeSnapshot Board::snapshot() const {
  std::set<std::string> excluded = {kBinaryName, "lib", "lib64", "usr", "proc"};
  if (!chrootEmulatorProgram().empty()) excluded.insert(chrootEmulatorName());
  return snapshotTree(root_, excluded);
}

bool Board::installBinary() {
  if (binaryInstalled_) return true;
  std::string copy = path(std::string("/") + kBinaryName);
  if (!writeFile(copy, readFile(installerBinary())) || ::chmod(copy.c_str(), 0755) != 0) return false;
  if (!chrootEmulatorProgram().empty()) {
    std::string emulator = path("/" + chrootEmulatorName());
    if (!writeFile(emulator, readFile(chrootEmulatorProgram())) || ::chmod(emulator.c_str(), 0755) != 0) return false;
  }
  return binaryInstalled_ = true;
}

RunResult Board::runWithRoot(const std::vector<std::string>& args, const RunInput& input) {
  std::vector<std::string> all = {"-r", root_};
  all.insert(all.end(), args.begin(), args.end());
  return run(installerBinary(), all, input, false);
}

RunResult Board::runInside(const std::vector<std::string>& args, const RunInput& input) {
  if (!installBinary()) return RunResult{-1, "", "the installer binary could not be copied into the board"};
  return run(std::string("/") + kBinaryName, args, input, true);
}

RunResult Board::run(const std::string& program, const std::vector<std::string>& args, const RunInput& input,
                     bool inside) {
  RunResult result;
  std::string inPath = scratch_ / "stdin", outPath = scratch_ / "stdout", errPath = scratch_ / "stderr";
  if (!writeFile(inPath, input.standardInput)) return result;
  const bool chrootCommand = inside && !input.tracer.empty();
  std::vector<std::string> words = input.tracer;
  if (chrootCommand) words.insert(words.end(), {"chroot", root_});
  const std::vector<std::string> emulator = emulatorPrefix(inside);
  words.insert(words.end(), emulator.begin(), emulator.end());
  words.push_back(program);
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(&word[0]);
  argv.push_back(nullptr);

  pid_t child = ::fork();
  if (child < 0) return result;
  if (child == 0) {
    int in = openForChild(inPath, O_RDONLY), out = openForChild(outPath, O_WRONLY | O_CREAT | O_TRUNC),
        err = openForChild(errPath, O_WRONLY | O_CREAT | O_TRUNC);
    if (in < 0 || out < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) ::_exit(126);
    for (const auto& [name, value] : input.setEnvironment) ::setenv(name.c_str(), value.c_str(), 1);
    for (const std::string& name : input.unsetEnvironment) ::unsetenv(name.c_str());
    // A dynamic binary needs its libraries, and a sanitized one /proc, in
    // whatever root it runs in, whether it is started there or enters it.
    if (!INSTALLER_BINARY_IS_STATIC) bindLibraries(root_);
    if (inside && !chrootCommand && (::chroot(root_.c_str()) != 0 || ::chdir("/") != 0)) ::_exit(125);
    // A run that waits for ever ends by SIGALRM (status 142) instead.
    ::alarm(kRunTimeoutSeconds);
    if (input.tracer.empty()) ::execv(argv[0], argv.data());
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = readFile(outPath);
  result.err = readFile(errPath);
  return result;
}
