// The JSON object of a command's outcome.
#include "pkgtool/json_outcome.h"

#include <cstring>
#include <sstream>
#include <vector>

#include "pkgtool/report_json.h"

namespace {

// The lines of a text, without their newlines; a last line without one too.
std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

// The command's error lines are "pkgtool CMD: MESSAGE", its warnings
// "pkgtool CMD: warning: MESSAGE"; the hint to the help is left out.
void addMessages(const std::string& command, const std::string& errors, nlohmann::json* object) {
  const std::string prefix = "pkgtool " + command + ": ", warning = prefix + "warning: ";
  std::string error;
  nlohmann::json warnings = nlohmann::json::array();
  for (const std::string& line : linesOf(errors)) {
    if (line.compare(0, warning.size(), warning) == 0)
      warnings.push_back(line.substr(warning.size()));
    else if (line.compare(0, prefix.size(), prefix) == 0 && error.empty())
      error = line.substr(prefix.size());
  }
  (*object)["error"] = error;
  (*object)["warnings"] = warnings;
}

}  // namespace

int jsonWordIndex(int argc, char** argv) {
  for (int i = 0; i < argc && strcmp(argv[i], "--") != 0; ++i)
    if (strcmp(argv[i], "--json") == 0) return i;
  return -1;
}

int runWithJsonOutcome(const char* command, CommandRunner run, bool keepJsonWord, int argc, char** argv,
                       std::ostream& out, std::ostream& err) {
  std::vector<char*> words(argv, argv + argc);
  if (!keepJsonWord) words.erase(words.begin() + jsonWordIndex(argc, argv));
  words.push_back(nullptr);
  std::ostringstream caughtOut, caughtErr;
  const int status = run(static_cast<int>(words.size()) - 1, words.data(), caughtOut, caughtErr);
  err << caughtErr.str();
  // A command's own object keeps its fields; any other output is its lines.
  nlohmann::json object = nlohmann::json::parse(caughtOut.str(), nullptr, false);
  if (!object.is_object()) object = {{"output", linesOf(caughtOut.str())}};
  object["command"] = command;
  object["status"] = status;
  addMessages(command, caughtErr.str(), &object);
  out << jsonText(object) << "\n";
  return status;
}
