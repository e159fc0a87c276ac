// keygen NAME: writes a new signing key pair as NAME.key (private) and
// NAME.pub (public, for INSTALLER_PUBLIC_KEY). Comment lines come from the
// optional second argument.
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "signing/key_generator.h"

namespace {

bool writeKeyFile(const std::string& path, const std::string& text, mode_t mode) {
  std::FILE* file = std::fopen(path.c_str(), "wx");  // never overwrite a key
  if (file == nullptr) {
    std::perror(path.c_str());
    return false;
  }
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed || ::chmod(path.c_str(), mode) != 0) {
    std::fprintf(stderr, "%s: could not be written\n", path.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: keygen NAME [COMMENT]\n");
    return 2;
  }
  const std::string name = argv[1];
  const std::string comment = argc == 3 ? argv[2] : "package signing key";
  PrivateKey key;
  if (!generateKey(&key)) {
    std::fprintf(stderr, "keygen: could not make a key\n");
    return 1;
  }
  if (!writeKeyFile(name + ".key", formatPrivateKey(key, comment), 0600)) return 1;
  if (!writeKeyFile(name + ".pub", formatPublicKey(key.publicKey, comment), 0644)) return 1;
  return 0;
}
