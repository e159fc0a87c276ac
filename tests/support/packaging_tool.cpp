#include <sys/stat.h>

#include <sstream>

#include "pkgtool/commands.h"
#include "support/package_writer.h"

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

bool buildPackageFile(const PackageRecipe& recipe, const std::string& out, std::string* messages) {
  ScratchDir tree;
  for (const auto& [path, content] : recipe.files) {
    if (!writeFile(tree / path, content) || chmod((tree / path).c_str(), path.rfind("bin/", 0) == 0 ? 0755 : 0644))
      return false;
  }
  std::vector<std::string> words{"build", "--key", developmentKeyPath(), "--name", recipe.name, "--version",
                                 recipe.version, "--root", tree.path(), "--build-time", std::to_string(kTestBuildTime)};
  words.insert(words.end(), recipe.options.begin(), recipe.options.end());
  words.insert(words.end(), {"-o", out});
  return runPackagingTool(words, messages);
}
