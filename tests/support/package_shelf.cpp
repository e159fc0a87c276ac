#include "support/package_shelf.h"

#include <sys/stat.h>

#include "pkgfile/package_stream.h"
#include "support/package_writer.h"
#include "support/packaging_tool.h"
#include "support/signed_package.h"
#include "support/state_notation.h"

namespace {

constexpr uint16_t kRegularFileBits = 0100000;

// The first words of a pkgtool command that makes a file.
std::vector<std::string> makeCommand(const std::string& command, const std::string& name, const std::string& version) {
  return {command, "--key",        developmentKeyPath(),          "--name", name, "--version",
          version, "--build-time", std::to_string(kTestBuildTime)};
}

}  // namespace

bool PackageShelf::build(const std::string& name, const std::string& version, const std::vector<ShelfFile>& files,
                         const std::vector<std::string>& options, std::string* error) {
  const std::string tree = scratch_ / ("tree" + std::to_string(++made_));
  for (const ShelfFile& file : files) {
    if (!writeFile(tree + "/" + file.path, file.content) || ::chmod((tree + "/" + file.path).c_str(), file.mode) != 0)
      return *error = "cannot write " + file.path + " of " + name, false;
  }
  std::vector<std::string> words = makeCommand("build", name, version);
  if (!files.empty()) words.insert(words.end(), {"--root", tree});
  words.insert(words.end(), options.begin(), options.end());
  const std::string out = tree + ".vpa";
  words.insert(words.end(), {"-o", out});
  if (!runPackagingTool(words, error)) return false;
  built_[name] = readFile(out);
  return true;
}

bool PackageShelf::bundle(const std::string& name, const std::string& version, const std::vector<std::string>& members,
                          const std::vector<std::string>& options, std::string* error) {
  std::vector<std::string> words = makeCommand("bundle", name, version);
  words.insert(words.end(), options.begin(), options.end());
  const std::string out = scratch_ / ("bundle" + std::to_string(++made_) + ".vpa");
  words.insert(words.end(), {"-o", out});
  for (const std::string& member : members) {
    const std::string* bytes = find(member);
    const std::string file = scratch_ / ("member" + std::to_string(++made_) + ".vpa");
    if (!bytes) return *error = "no package " + member + " was built for the bundle", false;
    if (!writeFile(file, *bytes)) return *error = "cannot write " + file, false;
    words.push_back(file);
  }
  if (!runPackagingTool(words, error)) return false;
  built_[name] = readFile(out);
  return true;
}

bool PackageShelf::buildUnchecked(const std::string& name, const std::string& version,
                                  const std::vector<ShelfFile>& files, std::string* error) {
  Version parsed = 0;
  if (!parseVersionText(version, &parsed)) return *error = "bad version \"" + version + "\"", false;
  std::string records;
  for (const ShelfFile& file : files)
    records += fileRecord(static_cast<uint16_t>(kRegularFileBits | file.mode), 0, file.path, file.content);
  const std::string header = headerPayload(name, parsed, kTestBuildTime, 0);
  const std::string container = zlibCompress(records);
  const std::string parts = partHeader(kPackageHeaderPart, static_cast<uint32_t>(header.size())) + header +
                            partHeader(kFileContainerPart, static_cast<uint32_t>(container.size())) + container;
  const std::string signedParts = signedPackageParts(developmentSigningKey(), parts);
  if (signedParts.empty()) return *error = "signing failed", false;
  built_[name] = PackageWriter().raw(signedParts).bytes();
  return true;
}

std::string* PackageShelf::find(const std::string& name) {
  auto found = built_.find(name);
  return found == built_.end() ? nullptr : &found->second;
}

PackageBytes PackageShelf::lookup() {
  return [this](const std::string& name) -> const std::string* { return find(name); };
}

NamedPackages PackageShelf::named() {
  NamedPackages packages;
  for (const auto& [name, bytes] : built_) packages.push_back({name, &bytes});
  return packages;
}
