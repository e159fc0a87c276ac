// pkgtool extract: a package file's records written into a directory, after
// the checks the installer makes before it writes anything.
#include "pkgtool/command_options.h"
#include "pkgtool/command_support.h"
#include "pkgtool/commands.h"
#include "pkgtool/input_file.h"
#include "pkgtool/record_extraction.h"

namespace {

struct ExtractOptions {
  std::string path, directory, keyPath;
  int boardClass = 0;
  bool verify = true;
};

// Reads the command line into *options; false with *error for a usage error.
bool readOptions(Arguments& args, ExtractOptions* options, std::string* error) {
  std::string value;
  int files = 0;
  while (!args.done() && !args.failed() && error->empty()) {
    if (args.option("-C", &options->directory) || args.option("--key", &options->keyPath) || args.separator())
      continue;
    if (args.option("--class", &value)) {
      if (!parseBoardClass(value, &options->boardClass, error)) *error = "--class " + *error;
    } else if (args.flag("--no-verify")) {
      options->verify = false;
    } else {
      options->path = args.positional();
      ++files;
    }
  }
  if (args.failed()) *error = args.error();
  if (error->empty() && files != 1) *error = "give exactly one package file";
  if (error->empty() && options->directory.empty()) *error = "-C DIR is required";
  return error->empty();
}

}  // namespace

int runExtract(int argc, char** argv, std::ostream& out, std::ostream& err) {
  Arguments args(argc, argv, 0);
  ExtractOptions options;
  std::string error;
  PublicKey key;
  if (!readOptions(args, &options, &error)) return usageError(err, "extract", error);
  if (!chooseKey(options.keyPath, &key, &error)) return failure(err, "extract", error, kExitBroken);
  InputFile input;
  FileReport report;
  if (!input.open(options.path, &error) || !inspectFile(input.path(), key, true, &report, &error))
    return failure(err, "extract", error, kExitBroken);
  const std::string& name = options.path;
  if (report.broken())
    return failure(err, "extract", name + ": broken package file: " + report.brokenReason + "; nothing was written",
                   kExitBroken);
  if (options.verify && !report.allSignaturesHold())
    return failure(err, "extract", name + ": a signature is bad or missing; nothing was written", kExitBadSignature);
  size_t written = 0;
  if (!extractRecords(input.path(), options.directory, options.boardClass, &written, &error))
    return failure(err, "extract", error, kExitFailed);
  out << "extracted " << written << (written == 1 ? " file" : " files") << " into " << options.directory << "\n";
  return kExitOk;
}
