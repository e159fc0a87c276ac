#include "support/scenario_file.h"

#include <cstring>
#include <iterator>
#include <set>

#include "support/scenario_text.h"

namespace {

const char* const kDirectives[] = {
    "installed",         "file",   "dir",    "link", "fifo",       "remove", "tmpfs", "manifest", "env", "package",
    "unchecked-package", "bundle", "damage", "run",  "run-inside", "pkgtool"};
const char* const kWithBody[] = {"package", "unchecked-package"};

bool isOneOf(const std::string& word, const char* const* list, size_t count) {
  for (size_t i = 0; i < count; ++i)
    if (word == list[i]) return true;
  return false;
}

bool isTitle(const std::string& title) {
  if (title.empty()) return false;
  for (char c : title)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) return false;
  return true;
}

// "| text", "|" or the same with another mark.
bool isMarkedLine(const std::string& line, char mark) {
  return !line.empty() && line[0] == mark && (line.size() == 1 || line[1] == ' ');
}

bool isExpectedLine(const std::string& line) {
  return line.compare(0, 7, "status ") == 0 || isMarkedLine(line, '|') || isMarkedLine(line, '=') ||
         isMarkedLine(line, '!') || (line.size() > 2 && std::strchr("+~-", line[0]) && line[1] == ' ');
}

// Adds one line of output to `text`; a line ending in "\c" ends the text.
bool addOutputLine(const std::string& line, std::string* text, std::string* error) {
  if (!text->empty() && text->back() != '\n') return *error = "output goes on after a line that ended in \\c", false;
  std::string decoded;
  bool noNewline = false;
  if (!unescape(line.size() > 2 ? line.substr(2) : std::string(), &decoded, error, nullptr, &noNewline)) return false;
  *text += noNewline ? decoded : decoded + "\n";
  return true;
}

bool addStatus(const std::string& word, Expected* expected, std::string* error) {
  if (word.empty() || word.size() > 3 || word.find_first_not_of("0123456789") != std::string::npos ||
      std::stoi(word) > 255)
    return *error = "status is a number from 0 to 255", false;
  expected->status = std::stoi(word);
  return true;
}

bool addExpectedLine(const ScenarioLine& line, Expected* expected, std::string* error) {
  const std::string& text = line.text;
  if (expected->firstLine == 0) expected->firstLine = line.number;
  expected->lastLine = line.number;
  if (text.compare(0, 7, "status ") == 0) {
    if (!expected->statusLine) expected->statusLine = line.number;
    return addStatus(text.substr(7), expected, error);
  }
  if (text[0] == '!') {
    if (!expected->errorsLine) expected->errorsLine = line.number;
    return addOutputLine(text, &expected->errors, error);
  }
  if (text[0] == '|' || text[0] == '=') {
    if (!expected->outputLine) expected->outputLine = line.number;
    const bool exact = text[0] == '=';
    if (!expected->output.empty() && expected->exactOutput != exact)
      return *error = "a run's output is written with \"|\" lines or with \"=\" lines, not both", false;
    expected->exactOutput = exact;
    return addOutputLine(text, &expected->output, error);
  }
  ExpectedChange change;
  if (!parseChangeLine(text, &change, error)) return false;
  expected->changes.push_back(change);
  expected->changeLines.push_back(line);
  return true;
}

// Reads the lines of one block into `scenario`, stopping at the first fault.
class BlockReader {
 public:
  explicit BlockReader(Scenario* scenario) : scenario_(scenario) {}

  void read(const ScenarioLine& line) {
    if (!scenario_->error.empty()) return;
    std::string error;
    if (!take(line, &error)) {
      scenario_->errorLine = line.number;
      scenario_->error = error;
    }
  }

 private:
  bool take(const ScenarioLine& line, std::string* error) {
    const std::string& text = line.text;
    if (text.empty() || text.find_first_not_of(" \t") == std::string::npos || text[0] == '#') {
      bodyOpen_ = expectedOpen_ = false;
      return true;
    }
    if (text[0] == ' ' || text[0] == '\t') return takeBody(line, error);
    if (isExpectedLine(text)) {
      if (!expectedOpen_) return *error = "expected lines follow their run directly", false;
      return addExpectedLine(line, &scenario_->steps.back().expected, error);
    }
    return takeDirective(line, error);
  }

  bool takeBody(const ScenarioLine& line, std::string* error) {
    if (!bodyOpen_) return *error = "an indented line belongs to a package", false;
    scenario_->steps.back().body.push_back({line.number, line.text.substr(line.text.find_first_not_of(" \t"))});
    return true;
  }

  bool takeDirective(const ScenarioLine& line, std::string* error) {
    Step step;
    step.line = line.number;
    const size_t end = line.text.find_first_of(" \t");
    step.keyword = line.text.substr(0, end);
    const size_t rest = end == std::string::npos ? std::string::npos : line.text.find_first_not_of(" \t", end);
    if (rest != std::string::npos) step.rest = line.text.substr(rest);
    step.restColumn = (rest == std::string::npos ? line.text.size() : rest) + 1;
    if (!isOneOf(step.keyword, kDirectives, std::size(kDirectives)))
      return *error = "unknown directive \"" + step.keyword + "\"", false;
    bodyOpen_ = isOneOf(step.keyword, kWithBody, std::size(kWithBody));
    expectedOpen_ = isRunKeyword(step.keyword);
    scenario_->steps.push_back(step);
    return true;
  }

  Scenario* scenario_;
  bool bodyOpen_ = false;
  bool expectedOpen_ = false;
};

std::string suiteName(const std::string& path) {
  std::string name = path.substr(path.rfind('/') + 1);
  return name.substr(0, name.rfind(".scn"));
}

std::vector<ScenarioLine> numberedLines(const std::string& text) {
  std::vector<ScenarioLine> lines;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back({static_cast<int>(lines.size()) + 1, text.substr(start, end - start)});
    start = end + 1;
  }
  return lines;
}

bool fileError(ScenarioFile* file, int line, const std::string& error) {
  if (file->error.empty()) {
    file->errorLine = line;
    file->error = error;
  }
  return false;
}

}  // namespace

bool isRunKeyword(const std::string& keyword) {
  return keyword == "run" || keyword == "run-inside" || keyword == "pkgtool";
}

ScenarioFile parseScenarioFile(const std::string& path, const std::string& text) {
  ScenarioFile file;
  file.path = path;
  file.suite = suiteName(path);
  std::set<std::string> titles;
  BlockReader reader(nullptr);
  for (const ScenarioLine& line : numberedLines(text)) {
    if (line.text.compare(0, 4, "=== ") == 0) {
      const std::string title = line.text.substr(4);
      if (!isTitle(title))
        fileError(&file, line.number, "a title is letters, digits and \"_\": " + title);
      else if (!titles.insert(title).second)
        fileError(&file, line.number, "a second block titled " + title);
      file.scenarios.push_back({title, line.number, {}, 0, ""});
      reader = BlockReader(&file.scenarios.back());
    } else if (!file.scenarios.empty()) {
      reader.read(line);
    } else if (!line.text.empty() && line.text[0] != '#') {
      fileError(&file, line.number, "only comments come before the first \"=== Title\"");
    }
  }
  return file;
}
