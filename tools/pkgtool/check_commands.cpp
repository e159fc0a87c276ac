// The commands that read package files: inspect, verify and list.
#include <cstdio>

#include "pkgtool/command_support.h"
#include "pkgtool/commands.h"
#include "pkgtool/file_report.h"
#include "pkgtool/input_file.h"
#include "pkgtool/report_json.h"
#include "pkgtool/report_output.h"

namespace {

int statusOf(const FileReport& report) {
  if (report.broken()) return kExitBroken;
  return report.allSignaturesHold() ? kExitOk : kExitBadSignature;
}

// "ok (2 packages)", "BAD SIGNATURE: foo bad, bar missing", "BROKEN FILE: ..."
std::string verdictLine(const FileReport& report) {
  if (report.broken()) return "BROKEN FILE: " + report.brokenReason;
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

// Reads the file named on the command line ("-": standard input); the report
// carries that name.
bool inspectNamed(const std::string& name, const PublicKey& key, bool listFiles, FileReport* report,
                  std::string* error) {
  InputFile input;
  if (!input.open(name, error) || !inspectFile(input.path(), key, listFiles, report, error)) return false;
  report->path = name;
  return true;
}

// One line of `list`: "MODE CLASS SIZE PATH", after the member's name in a bundle.
void printRecord(const std::string& member, const FileRecord& file, char end, std::ostream& out) {
  char fields[64];
  snprintf(fields, sizeof fields, "%s %u %u ", modeText(file.mode).c_str(), file.processorClass, file.size);
  if (!member.empty()) out << member << " ";
  out << fields << file.name << end;
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
  if (!chooseKey(keyPath, &key, &error)) return failure(err, "inspect", error, kExitBroken);
  FileReport report;
  if (!inspectNamed(path, key, true, &report, &error)) {
    if (json) out << jsonText(unreadableJson(path)) << "\n";
    return failure(err, "inspect", error, kExitBroken);
  }
  if (json)
    out << jsonText(reportJson(report)) << "\n";
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
  if (!chooseKey(keyPath, &key, &error)) return failure(err, "verify", error, kExitBroken);
  int status = kExitOk;
  for (const std::string& path : paths) {
    FileReport report;
    int fileStatus = kExitBroken;
    if (!inspectNamed(path, key, true, &report, &error)) {
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

int runList(int argc, char** argv, std::ostream& out, std::ostream& err) {
  Arguments args(argc, argv, 0);
  std::string path;
  char end = '\n';
  int files = 0;
  while (!args.done() && !args.failed()) {
    if (args.separator()) continue;
    if (args.flag("-0")) {
      end = '\0';
    } else {
      path = args.positional();
      ++files;
    }
  }
  if (args.failed()) return usageError(err, "list", args.error());
  if (files != 1) return usageError(err, "list", "give exactly one package file");
  FileReport report;
  std::string error;
  if (!inspectNamed(path, builtInKey(), true, &report, &error)) return failure(err, "list", error, kExitBroken);
  if (report.broken())
    return failure(err, "list", path + ": broken package file: " + report.brokenReason, kExitBroken);
  bool bundle = report.packages[0].info->isBundle;
  for (const PackageReport& package : report.packages)
    for (const FileRecord& file : package.files) printRecord(bundle ? package.info->name : "", file, end, out);
  return kExitOk;
}
