// The commands that make package files: build and bundle.
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>

#include "model/package.h"
#include "pkgtool/arguments.h"
#include "pkgtool/bundle_builder.h"
#include "pkgtool/command_options.h"
#include "pkgtool/command_support.h"
#include "pkgtool/commands.h"
#include "pkgtool/input_file.h"
#include "pkgtool/output_file.h"
#include "pkgtool/package_builder.h"
#include "pkgtool/part_writer.h"
#include "pkgtool/version_parse.h"

namespace {

// The build time when none is given: SOURCE_DATE_EPOCH, else now.
bool defaultBuildTime(uint32_t* seconds, std::string* error) {
  const char* epoch = getenv("SOURCE_DATE_EPOCH");
  if (epoch != nullptr) {
    if (parseBuildTime(epoch, seconds, error)) return true;
    *error = "SOURCE_DATE_EPOCH: " + *error;
    return false;
  }
  *seconds = static_cast<uint32_t>(time(nullptr));
  return true;
}

struct CommonOptions {
  std::string keyPath, versionText, outPath, buildTimeText;
  bool hasBuildTime = false;
  HeaderFields header;
};

// Options that build and bundle share; true when the current word was one.
bool commonOption(Arguments& args, CommonOptions* options) {
  std::string value;
  if (args.option("--key", &options->keyPath) || args.option("--version", &options->versionText) ||
      args.option("-o", &options->outPath))
    return true;
  if (args.option("--name", &options->header.name)) return true;
  if (args.option("--build-time", &options->buildTimeText)) {
    options->hasBuildTime = true;
    return true;
  }
  if (args.option("--arch", &value)) {
    options->header.architecture = value;
    return true;
  }
  if (args.option("--description", &value)) {
    options->header.description = value;
    return true;
  }
  return false;
}

// The required options are there and their values are good.
bool finishCommon(CommonOptions* options, bool needsKey, std::string* error) {
  const char* missing = needsKey && options->keyPath.empty() ? "--key"
                        : options->header.name.empty()   ? "--name"
                        : options->versionText.empty() ? "--version"
                        : options->outPath.empty()     ? "-o"
                                                       : nullptr;
  if (missing != nullptr) {
    *error = std::string(missing) + " is required";
    return false;
  }
  if (!checkPackageName(options->header.name, error)) return false;
  if (!parseVersion(options->versionText, &options->header.version, error)) return false;
  if (options->hasBuildTime ? !parseBuildTime(options->buildTimeText, &options->header.buildTime, error)
                            : !defaultBuildTime(&options->header.buildTime, error)) {
    *error = "build time: " + *error;
    return false;
  }
  return true;
}

// How a bundle that was not made ends the command.
int bundleStatus(BundleFault fault) {
  switch (fault) {
    case BundleFault::None:
      return kExitOk;
    case BundleFault::MemberBroken:
      return kExitBroken;
    case BundleFault::MemberSignature:
      return kExitBadSignature;
    default:
      return kExitFailed;
  }
}

// One --depends, --provides, --conflicts or --class of a build.
bool buildListOption(Arguments& args, HeaderFields* header, BuildRequest* request, std::string* error) {
  std::string value;
  Dependency entry;
  std::pair<std::string, uint8_t> fileClass;
  std::string name;
  bool ok = true;
  if (args.option("--depends", &value)) {
    name = "--depends";
    ok = parseDependencyOption(value, &entry, error);
    if (ok) header->depends.push_back(entry);
  } else if (args.option("--conflicts", &value)) {
    name = "--conflicts";
    ok = parseDependencyOption(value, &entry, error);
    if (ok) header->conflicts.push_back(entry);
  } else if (args.option("--provides", &value)) {
    name = "--provides";
    ok = parseProvidesOption(value, &entry, error);
    if (ok) header->provides.push_back(entry);
  } else if (args.option("--class", &value)) {
    name = "--class";
    ok = parseClassOption(value, &fileClass, error);
    if (ok) request->classes[fileClass.first] = fileClass.second;
  } else {
    return false;
  }
  if (!ok) *error = name + " " + *error;
  return true;
}

}  // namespace

int runBuild(int argc, char** argv, std::ostream& out, std::ostream& err) {
  Arguments args(argc, argv, 0);
  CommonOptions options;
  BuildRequest request;
  std::string root, error;
  bool hasRoot = false;
  while (!args.done() && !args.failed() && error.empty()) {
    if (commonOption(args, &options) || buildListOption(args, &options.header, &request, &error)) continue;
    if (args.option("--root", &root)) {
      hasRoot = true;
    } else if (args.flag("--boot-image")) {
      options.header.flags |= PackageFlag::BootImage;
    } else if (args.flag("--no-metadata")) {
      options.header.flags |= PackageFlag::NoMetadata;
    } else if (args.flag("--image")) {
      options.header.image = true;
    } else if (args.flag("--unregistered")) {
      request.unregistered = true;
    } else {
      return unexpected(err, "build", args);
    }
  }
  if (args.failed()) return usageError(err, "build", args.error());
  if (!error.empty()) return usageError(err, "build", error);
  if (!finishCommon(&options, true, &error)) return usageError(err, "build", error);
  PrivateKey key;
  if (!readSigningKey(options.keyPath, &key, &error)) return failure(err, "build", error, kExitBroken);
  request.header = options.header;
  if (hasRoot) request.root = root;
  std::vector<std::string> warnings;
  bool built = buildPackage(request, keySigner(key), options.outPath, &error, &warnings);
  for (const std::string& warning : warnings) err << "pkgtool build: warning: " << warning << "\n";
  if (!built) return failure(err, "build", error, kExitFailed);
  reportStream(options.outPath == "-", out, err) << "built " << options.outPath << ": " << request.header.name << "-" << versionText(request.header.version)
      << "\n";
  return kExitOk;
}

int runBundle(int argc, char** argv, std::ostream& out, std::ostream& err) {
  Arguments args(argc, argv, 0);
  CommonOptions options;
  options.header.image = true;
  BundleRequest request;
  InputFile standardInput;  // a member given as "-"
  std::string value, error;
  while (!args.done() && !args.failed() && error.empty()) {
    if (commonOption(args, &options) || args.separator()) continue;
    if (args.option("--start-disabled", &value)) {
      request.startDisabled.push_back(value);
    } else if (args.flag("--no-image")) {
      options.header.image = false;
    } else {
      request.members.push_back(args.positional());
    }
  }
  if (args.failed()) return usageError(err, "bundle", args.error());
  if (!error.empty()) return usageError(err, "bundle", error);
  if (request.members.empty()) return usageError(err, "bundle", "no member package files given");
  if (std::count(request.members.begin(), request.members.end(), "-") > 1)
    return usageError(err, "bundle", "standard input can be one member only");
  if (!finishCommon(&options, false, &error)) return usageError(err, "bundle", error);
  PublicKey key;
  if (!chooseKey(options.keyPath, &key, &error)) return failure(err, "bundle", error, kExitBroken);
  for (std::string& member : request.members) {
    if (member != "-") continue;
    if (!standardInput.open(member, &error)) return failure(err, "bundle", error, kExitBroken);
    member = standardInput.path();
  }
  request.header = options.header;
  std::vector<std::string> warnings;
  const BundleFault fault = buildBundle(request, key, options.outPath, &error, &warnings);
  // Errors name standard input as the command line did.
  for (size_t at; !standardInput.path().empty() && (at = error.find(standardInput.path())) != std::string::npos;)
    error.replace(at, standardInput.path().size(), "-");
  if (fault != BundleFault::None) return failure(err, "bundle", error, bundleStatus(fault));
  for (const std::string& warning : warnings) err << "pkgtool bundle: warning: " << warning << "\n";
  if (!request.header.image)
    err << "pkgtool bundle: warning: " << options.outPath
        << " has no image part: the board takes an installed bundle without one apart again on its next run"
           " and uninstalls its members\n";
  reportStream(options.outPath == "-", out, err) << "built " << options.outPath << ": bundle " << request.header.name << "-" << versionText(request.header.version)
      << " of " << request.members.size() << (request.members.size() == 1 ? " member\n" : " members\n");
  return kExitOk;
}
