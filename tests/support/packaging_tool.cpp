#include "support/packaging_tool.h"

#include <sys/stat.h>

#include <sstream>

#include "pkgtool/commands.h"
#include "support/scratch_dir.h"

std::string developmentKeyPath() { return INSTALLER_DEVELOPMENT_KEY; }

bool runPackagingTool(const std::vector<std::string>& words, std::string* messages) {
  std::vector<std::string> arguments{"pkgtool"};
  arguments.insert(arguments.end(), words.begin(), words.end());
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  std::ostringstream out;
  const int status = runPkgtool(static_cast<int>(arguments.size()), argv.data(), out, out);
  if (messages) *messages = out.str();
  return status == 0;
}

std::string incompressibleBytes(size_t size) {
  std::string bytes(size, '\0');
  uint32_t state = 2463534242u;
  for (char& byte : bytes) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    byte = static_cast<char>(state);
  }
  return bytes;
}

bool buildPackageFile(const PackageRecipe& recipe, const std::string& out, std::string* messages) {
  ScratchDir tree;
  for (const auto& [path, content] : recipe.files) {
    const std::string file = tree / path;
    const mode_t mode = path.compare(0, 4, "bin/") == 0 ? 0755 : 0644;
    if (!writeFile(file, content) || chmod(file.c_str(), mode) != 0) return false;
  }
  std::vector<std::string> words{"build",     "--key",  developmentKeyPath(), "--name", recipe.name, "--version",
                                 recipe.version, "--root", tree.path(),         "--build-time",
                                 std::to_string(kTestBuildTime)};
  words.insert(words.end(), recipe.options.begin(), recipe.options.end());
  words.push_back("-o");
  words.push_back(out);
  return runPackagingTool(words, messages);
}
