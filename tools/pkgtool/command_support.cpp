// Error lines and key files of pkgtool's commands.
#include "pkgtool/command_support.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "pkgtool/commands.h"

namespace {

// Key files are the host's own files.
PosixFileSystem hostFiles;

// The key readers say only that a file could not be opened; this says why.
// A key is a regular file: the readers would wait for ever on a named pipe.
bool canOpen(const std::string& path, std::string* error) {
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
  if (fd < 0) {
    *error = path + ": cannot open: " + strerror(errno);
    return false;
  }
  struct stat st;
  bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  close(fd);
  if (!regular) *error = path + ": not a regular file";
  return regular;
}

}  // namespace

int usageError(std::ostream& err, const char* command, const std::string& message) {
  err << "pkgtool " << command << ": " << message << "\n"
      << "Try 'pkgtool help " << command << "'.\n";
  return kExitUsage;
}

int unexpected(std::ostream& err, const char* command, Arguments& args) {
  std::string word = args.positional();
  return usageError(err, command, args.failed() ? args.error() : "unexpected argument " + word);
}

int failure(std::ostream& err, const char* command, const std::string& message, int status) {
  err << "pkgtool " << command << ": " << message << "\n";
  return status;
}

std::ostream& reportStream(bool toStandardOutput, std::ostream& out, std::ostream& err) {
  if (!toStandardOutput) return out;
  out.flush();
  return err;
}

bool chooseKey(const std::string& path, PublicKey* key, std::string* error) {
  if (path.empty()) {
    *key = builtInKey();
    return true;
  }
  if (!canOpen(path, error)) return false;
  if (readPublicKeyFile(hostFiles, path, key, error)) return true;
  PrivateKey privateKey;
  std::string privateError;
  if (!readPrivateKeyFile(hostFiles, path, &privateKey, &privateError)) return false;
  *key = privateKey.publicKey;
  return true;
}

bool readSigningKey(const std::string& path, PrivateKey* key, std::string* error) {
  return canOpen(path, error) && readPrivateKeyFile(hostFiles, path, key, error);
}
