// pkgtool sign: a package file signed again with another key.
#include "pkgtool/command_support.h"
#include "pkgtool/commands.h"
#include "pkgtool/file_report.h"
#include "pkgtool/input_file.h"
#include "pkgtool/package_resigner.h"

int runSign(int argc, char** argv, std::ostream& out, std::ostream& err) {
  Arguments args(argc, argv, 0);
  std::string keyPath, outPath, inName, error;
  int files = 0;
  while (!args.done() && !args.failed()) {
    if (args.option("--key", &keyPath) || args.option("-o", &outPath) || args.separator()) continue;
    inName = args.positional();
    ++files;
  }
  if (args.failed()) return usageError(err, "sign", args.error());
  if (files != 1) return usageError(err, "sign", "give exactly one package file");
  if (keyPath.empty() || outPath.empty())
    return usageError(err, "sign", keyPath.empty() ? "--key is required" : "-o is required");
  InputFile input;
  FileReport report;
  if (!input.open(inName, &error) || !inspectFile(input.path(), builtInKey(), false, &report, &error))
    return failure(err, "sign", error, kExitBroken);
  if (report.broken())
    return failure(err, "sign", inName + ": broken package file: " + report.brokenReason, kExitBroken);
  PrivateKey key;
  size_t signedCount = 0;
  if (!readSigningKey(keyPath, &key, &error)) return failure(err, "sign", error, kExitBroken);
  if (!resignFile(input.path(), report.layout, keySigner(key), outPath, &signedCount, &error))
    return failure(err, "sign", error, kExitFailed);
  reportStream(outPath == "-", out, err) << "signed " << outPath << ": " << signedCount << (signedCount == 1 ? " package\n" : " packages\n");
  return kExitOk;
}
