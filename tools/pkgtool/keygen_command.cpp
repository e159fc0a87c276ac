// pkgtool keygen: a new signing key pair, or the public file of a kept key.
// A key file is never overwritten.
#include <sys/stat.h>
#include <unistd.h>

#include "pkgtool/command_support.h"
#include "pkgtool/commands.h"
#include "pkgtool/output_file.h"
#include "signing/key_generator.h"

namespace {

constexpr mode_t kPrivateKeyMode = 0600;
constexpr mode_t kPublicFileMode = 0666;

struct KeygenOptions {
  std::string keyPath, publicPath, fromPath;
};

// The options make sense together: a new pair, or --from with --public.
bool checkOptions(const KeygenOptions& options, std::string* error) {
  if (!options.fromPath.empty() && !options.keyPath.empty())
    *error = "--from makes only the public file; give --public FILE.pub, not -o";
  else if (!options.fromPath.empty() && options.publicPath.empty())
    *error = "--from needs --public FILE.pub";
  else if (options.fromPath.empty() && options.keyPath.empty())
    *error = "-o FILE.key is required";
  else if (options.keyPath == options.publicPath)
    *error = "-o and --public name the same file";
  return error->empty();
}

bool exists(const std::string& path) {
  struct stat st;
  return !path.empty() && path != "-" && lstat(path.c_str(), &st) == 0;
}

// Opens and fills the output when a path is given; true when none is.
bool prepare(OutputFile* out, const std::string& path, const std::string& text, std::string* error) {
  return path.empty() || (out->open(path, error) && out->write(text.data(), text.size(), error));
}

// Both files are written out before either appears, and neither replaces a
// file; a private key whose public file cannot follow it goes again.
bool writeKeyFiles(const KeygenOptions& options, const PrivateKey& key, std::string* error) {
  const std::string comment = "package signing key made by pkgtool keygen";
  OutputFile keyOut, publicOut;
  if (!prepare(&keyOut, options.keyPath, formatPrivateKey(key, comment + "; keep it private"), error) ||
      !prepare(&publicOut, options.publicPath, formatPublicKey(key.publicKey, comment + " (public half)"), error) ||
      !(options.keyPath.empty() || keyOut.commit(error, kPrivateKeyMode, false)))
    return false;
  if (options.publicPath.empty() || publicOut.commit(error, kPublicFileMode, false)) return true;
  if (!options.keyPath.empty() && options.keyPath != "-") unlink(options.keyPath.c_str());
  return false;
}

}  // namespace

int runKeygen(int argc, char** argv, std::ostream& out, std::ostream& err) {
  Arguments args(argc, argv, 0);
  KeygenOptions options;
  while (!args.done() && !args.failed()) {
    if (!args.option("-o", &options.keyPath) && !args.option("--public", &options.publicPath) &&
        !args.option("--from", &options.fromPath))
      return unexpected(err, "keygen", args);
  }
  std::string error;
  if (args.failed()) return usageError(err, "keygen", args.error());
  if (!checkOptions(options, &error)) return usageError(err, "keygen", error);
  for (const std::string& path : {options.keyPath, options.publicPath})
    if (exists(path))
      return failure(err, "keygen", path + ": already exists; a key file is never overwritten", kExitFailed);
  PrivateKey key;
  if (options.fromPath.empty() && !generateKey(&key))
    return failure(err, "keygen", "no key could be made (random source or arithmetic failed)", kExitFailed);
  if (!options.fromPath.empty() && !readSigningKey(options.fromPath, &key, &error))
    return failure(err, "keygen", error, kExitBroken);
  if (!writeKeyFiles(options, key, &error)) return failure(err, "keygen", error, kExitFailed);
  std::ostream& report = reportStream(options.keyPath == "-" || options.publicPath == "-", out, err);
  if (options.keyPath.empty())
    report << "wrote " << options.publicPath << "\n";
  else
    report << "wrote " << options.keyPath << (options.publicPath.empty() ? "" : " and " + options.publicPath) << "\n";
  return kExitOk;
}
