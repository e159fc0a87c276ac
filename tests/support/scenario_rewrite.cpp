#include "support/scenario_rewrite.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "support/scenario_file.h"

namespace {

// The lines of the text, each with its newline (the last may have none).
std::vector<std::string> rawLines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t start = 0; start < text.size();) {
    const size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end + 1 - start));
    start = end == std::string::npos ? text.size() : end + 1;
  }
  return lines;
}

const Scenario* findScenario(const ScenarioFile& file, const std::string& title) {
  for (const Scenario& scenario : file.scenarios)
    if (scenario.title == title) return &scenario;
  return nullptr;
}

bool readAll(int fd, std::string* text) {
  char buffer[16384];
  for (;;) {
    const ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return false;
    if (count == 0) return true;
    text->append(buffer, static_cast<size_t>(count));
  }
}

bool writeAll(int fd, const std::string& text) {
  if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0) return false;
  for (size_t done = 0; done < text.size();) {
    const ssize_t count = ::write(fd, text.data() + done, text.size() - done);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return false;
    done += static_cast<size_t>(count);
  }
  return true;
}

}  // namespace

bool rewriteScenarioText(const std::string& path, const std::string& title, const RunRewrites& runs, std::string* text,
                         std::string* error) {
  const ScenarioFile file = parseScenarioFile(path, *text);
  const Scenario* scenario = findScenario(file, title);
  std::vector<const Step*> steps;
  for (size_t i = 0; scenario && i < scenario->steps.size(); ++i)
    if (isRunKeyword(scenario->steps[i].keyword)) steps.push_back(&scenario->steps[i]);
  if (!scenario || steps.size() != runs.size())
    return *error = path + ": the block " + title + " is gone or has other runs", false;
  std::vector<std::string> lines = rawLines(*text);
  // From the last run up, so that line numbers above stay right.
  for (size_t i = runs.size(); i-- > 0;) {
    if (!runs[i]) continue;
    const Expected& old = steps[i]->expected;
    const size_t from = static_cast<size_t>(old.firstLine ? old.firstLine - 1 : steps[i]->line);
    const size_t to = static_cast<size_t>(old.firstLine ? old.lastLine : steps[i]->line);
    if (to > lines.size()) return *error = path + ": the file changed while it was read", false;
    if (to == lines.size() && !lines.empty() && lines.back().back() != '\n') lines.back() += '\n';
    std::vector<std::string> added;
    for (const std::string& line : *runs[i]) added.push_back(line + "\n");
    lines.erase(lines.begin() + from, lines.begin() + to);
    lines.insert(lines.begin() + from, added.begin(), added.end());
  }
  text->clear();
  for (const std::string& line : lines) *text += line;
  return true;
}

bool rewriteScenarioFile(const std::string& path, const std::string& title, const RunRewrites& runs,
                         std::string* error) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return *error = path + ": " + std::strerror(errno), false;
  std::string text;
  bool done = ::flock(fd, LOCK_EX) == 0 && readAll(fd, &text);
  if (!done) *error = path + ": cannot be read: " + std::strerror(errno);
  done = done && rewriteScenarioText(path, title, runs, &text, error);
  if (done && !writeAll(fd, text)) {
    *error = path + ": cannot be written: " + std::strerror(errno);
    done = false;
  }
  ::close(fd);  // also releases the lock
  return done;
}
