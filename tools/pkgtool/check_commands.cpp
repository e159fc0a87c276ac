// The commands that read files: inspect and verify.
#include "pkgtool/arguments.h"
#include "pkgtool/command_support.h"
#include "pkgtool/commands.h"
#include "pkgtool/report_output.h"
#include "pkgtool/file_report.h"

namespace {

int statusOf(const FileReport& report) {
  if (report.broken()) return kExitBroken;
  return report.allSignaturesHold() ? kExitOk : kExitBadSignature;
}

// "ok (2 packages)", "BAD SIGNATURE: foo bad, bar missing", "BROKEN FILE: ..."
std::string verdictLine(const FileReport& report) {
  if (report.broken()) return "BROKEN FILE: " + report.layout.broken;
  if (report.allSignaturesHold()) {
    size_t count = 0;
    for (const PackageReport& package : report.packages)
      if (package.signature == SignatureVerdict::Ok) ++count;
    return "ok (" + std::to_string(count) + (count == 1 ? " package)" : " packages)");
  }
  std::string line = "BAD SIGNATURE:";
  const char* separator = " ";
  for (const PackageReport& package : report.packages) {
    if (package.signature != SignatureVerdict::Bad && package.signature != SignatureVerdict::Missing) continue;
    line += separator + package.info->name + " " + verdictName(package.signature);
    separator = ", ";
  }
  return line;
}

}  // namespace

int runInspect(int argc, char** argv, std::ostream& out, std::ostream& err) {
  Arguments args(argc, argv, 0);
  std::string keyPath, path;
  bool json = false;
  int files = 0;
  while (!args.done() && !args.failed()) {
    if (args.option("--key", &keyPath) || args.separator()) continue;
    if (args.flag("--json")) {
      json = true;
    } else {
      path = args.positional();
      ++files;
    }
  }
  if (args.failed()) return usageError(err, "inspect", args.error());
  if (files != 1) return usageError(err, "inspect", "give exactly one package file");
  PublicKey key;
  std::string error;
  if (!chooseKey(keyPath, &key, &error)) return usageError(err, "inspect", error);
  FileReport report;
  if (!inspectFile(path, key, true, &report, &error)) {
    err << "pkgtool inspect: " << error << "\n";
    return kExitBroken;
  }
  if (json)
    out << reportJsonText(report) << "\n";
  else
    printReport(report, out);
  return statusOf(report);
}

int runVerify(int argc, char** argv, std::ostream& out, std::ostream& err) {
  Arguments args(argc, argv, 0);
  std::string keyPath;
  std::vector<std::string> paths;
  while (!args.done() && !args.failed()) {
    if (args.option("--key", &keyPath) || args.separator()) continue;
    paths.push_back(args.positional());
  }
  if (args.failed()) return usageError(err, "verify", args.error());
  if (paths.empty()) return usageError(err, "verify", "no package files given");
  PublicKey key;
  std::string error;
  if (!chooseKey(keyPath, &key, &error)) return usageError(err, "verify", error);
  int status = kExitOk;
  for (const std::string& path : paths) {
    FileReport report;
    int fileStatus = kExitBroken;
    if (!inspectFile(path, key, false, &report, &error)) {
      out << path << ": UNREADABLE: " << error << "\n";
    } else {
      fileStatus = statusOf(report);
      out << path << ": " << verdictLine(report) << "\n";
    }
    // A broken file outranks a bad signature.
    if (fileStatus > status) status = fileStatus;
  }
  return status;
}
