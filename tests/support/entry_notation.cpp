#include "support/entry_notation.h"

#include <locale>
#include <sstream>

namespace {

constexpr uint32_t kNoMark = 0xFFFFFFFF;

std::string listLines(const std::vector<Dependency>& list, bool withPriority) {
  std::string out;
  for (const Dependency& entry : list) {
    out += entry.name + " " + std::to_string(entry.min) + " " + std::to_string(entry.max);
    if (withPriority) out += " " + std::to_string(entry.priority);
    out += "\n";
  }
  return out;
}

// The reading may be loose: entryWords checks that the words give the files back.
bool readList(const std::string& text, bool withPriority, std::vector<Dependency>* list) {
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    words.imbue(std::locale::classic());
    Dependency entry;
    if (!(words >> entry.name >> entry.min >> entry.max) || (withPriority && !(words >> entry.priority))) return false;
    list->push_back(entry);
  }
  return true;
}

bool readEntryFile(const std::string& name, const std::string& content, PackageState* state) {
  std::istringstream in(content);
  in.imbue(std::locale::classic());
  if (name == "version") return static_cast<bool>(in >> state->version >> state->buildTime);
  if (name == "deps") return readList(content, false, &state->depends);
  if (name == "provides") return readList(content, true, &state->provides);
  if (name == "conflicts") return readList(content, false, &state->conflicts);
  if (name == "bundle") return static_cast<bool>(in >> state->bundle);
  if (name == "disabled") return static_cast<bool>(in >> state->disabled);
  if (name == "enabled") return state->enabledByUser = true;
  if (name != "files") return false;
  for (std::string line; std::getline(in, line);) state->files.push_back(line);
  return true;
}

// NAME[:MIN[:MAX[:PRIORITY]]] without the fields that are left open at its end.
std::string listWord(char mark, const Dependency& entry, bool withPriority) {
  std::vector<std::string> fields = {entry.min ? versionText(entry.min) : "", entry.max ? versionText(entry.max) : ""};
  if (withPriority && entry.priority != 0) fields.push_back(std::to_string(entry.priority));
  while (!fields.empty() && fields.back().empty()) fields.pop_back();
  std::string word = mark + entry.name;
  for (const std::string& field : fields) word += ":" + field;
  return word;
}

std::string renderWords(const PackageState& state, uint32_t defaultBuildTime) {
  const bool placeholder = state.version == kNoMark && state.buildTime == kNoMark;
  std::string words = placeholder ? "placeholder" : versionText(state.version);
  if (!placeholder && state.buildTime != defaultBuildTime) words += " built=" + std::to_string(state.buildTime);
  if (!state.disabled.empty()) words += state.disabled == "user" ? " disabled" : " disabled=" + state.disabled;
  if (state.enabledByUser) words += " enabled=user";
  for (const Dependency& entry : state.depends) words += " " + listWord('>', entry, false);
  for (const Dependency& entry : state.provides) words += " " + listWord('+', entry, true);
  for (const Dependency& entry : state.conflicts) words += " " + listWord('!', entry, false);
  if (!state.bundle.empty()) words += " @" + state.bundle;
  if (state.isBundle) words += " bundle";
  for (size_t i = 0; i < state.files.size(); ++i) words += (i == 0 ? " files=" : ",") + state.files[i];
  return words;
}

}  // namespace

std::map<std::string, std::string> entryFiles(const PackageState& state) {
  std::map<std::string, std::string> files;
  files["version"] = std::to_string(state.version) + " " + std::to_string(state.buildTime) + "\n";
  files["deps"] = listLines(state.depends, false);
  if (!state.provides.empty()) files["provides"] = listLines(state.provides, true);
  if (!state.conflicts.empty()) files["conflicts"] = listLines(state.conflicts, false);
  if (!state.bundle.empty()) files["bundle"] = state.bundle + "\n";
  if (!state.isBundle) {
    files["files"].clear();
    for (const std::string& file : state.files) files["files"] += file + "\n";
  }
  if (!state.disabled.empty()) files["disabled"] = state.disabled + "\n";
  if (state.enabledByUser) files["enabled"] = "user\n";
  return files;
}

bool entryWords(const std::string& name, const std::map<std::string, std::string>& files, uint32_t defaultBuildTime,
                std::string* words) {
  PackageState state;
  for (const auto& [file, content] : files)
    if (!readEntryFile(file, content, &state)) return false;
  state.isBundle = files.count("files") == 0;
  *words = renderWords(state, defaultBuildTime);
  std::vector<PackageState> back;
  NotationError error;
  return parsePackageStates(name + " " + *words, &back, &error, defaultBuildTime) && back.size() == 1 &&
         entryFiles(back[0]) == files;
}
