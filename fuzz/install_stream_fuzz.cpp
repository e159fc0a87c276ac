// Arbitrary bytes on the installer's standard input: a package or bundle
// stream installed into a scratch board, its transaction then cancelled.
// Nothing may crash, hang, read out of bounds or write outside the board.
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "install/console.h"
#include "install/package_install.h"
#include "model/repository.h"
#include "platform/string_bytes.h"
#include "staging/transaction.h"

namespace {

PosixFileSystem posixFs;

// The scratch board, made once per process below $TMPDIR.
const std::string& board() {
  static const std::string root = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/install-stream-fuzz-XXXXXX";
    if (!mkdtemp(&path[0])) std::abort();
    for (const char* dir : {"/flash", "/flash/var", "/flash/var/pdb", "/ram"}) {
      const std::string made = path + dir;
      if (mkdir(made.c_str(), 0755) != 0) std::abort();
    }
    return path;
  }();
  return root;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FILE* const nowhere = fopen("/dev/null", "w");

  Repository repository;
  repository.architecture = "i386";
  Console console(nowhere);
  Transaction transaction{BoardPaths(posixFs, board())};
  StringSource input(std::string(reinterpret_cast<const char*>(data), size));
  StringSink tee;
  InstallRun run{
      repository, console, transaction, InstallFlags::Upgrade | InstallFlags::Downgrade | InstallFlags::Reinstall, {}};
  installFromStream(run, &input, &tee);
  // Whatever was staged must lie inside the board.
  for (const auto& [destination, op] : transaction) {
    if (destination.compare(0, board().size() + 1, board() + "/") != 0) std::abort();
  }
  transaction.cancel();
  return 0;
}
