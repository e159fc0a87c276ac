#include "support/state_notation.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "pkgtool/version_parse.h"

namespace {

bool isName(const std::string& s) {
  const char* const kNameBytes = "-_.0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
  return !s.empty() && s.find_first_not_of(kNameBytes) == s.npos;
}

std::vector<std::string> fields(const std::string& text, char separator) {
  std::vector<std::string> parts(1);
  for (char c : text) c == separator ? parts.emplace_back() : parts.back() += c;
  return parts;
}

// NAME[:MIN[:MAX]], when `ranked` also [:PRIORITY]; an empty bound is open.
bool readEntry(const std::string& text, bool ranked, std::vector<Dependency>* list) {
  const std::vector<std::string> f = fields(text, ':');
  Dependency& entry = list->emplace_back(Dependency{f[0]});
  const auto bound = [&](size_t i, Version* v) { return f.size() <= i || f[i].empty() || parseVersionText(f[i], v); };
  if (f.size() == 4) entry.priority = static_cast<int32_t>(std::strtoll(f[3].c_str(), nullptr, 10));
  return isName(f[0]) && f.size() <= (ranked ? 4u : 3u) && bound(1, &entry.min) && bound(2, &entry.max) &&
         (f.size() < 4 || std::to_string(entry.priority) == f[3]);
}

bool readWord(const std::string& word, PackageState* s) {
  const std::string key = word.substr(0, word.find('=') + 1), value = word.substr(key.size());
  auto* list = word[0] == '>' ? &s->depends : word[0] == '+' ? &s->provides : word[0] == '!' ? &s->conflicts : nullptr;
  if (list) return readEntry(word.substr(1), word[0] == '+', list);
  if (word[0] == '@') return isName(s->bundle = word.substr(1));
  if (word == "disabled" || word == "disabled=auto") return s->disabled = word == "disabled" ? "user" : "auto", true;
  if (word == "enabled=user") return s->enabledByUser = true;
  if (word == "bundle") return s->isBundle = true;
  if (word == "uninstall" || word == "enable" || word == "disable") return s->scheduled = word, true;
  if (key == "files=") s->files = value.empty() ? std::vector<std::string>() : fields(value, ',');
  if (key == "files=") return std::count(s->files.begin(), s->files.end(), "") == 0;
  s->buildTime = static_cast<uint32_t>(std::strtoull(value.c_str(), nullptr, 10));
  return key == "built=" && s->version != kPlaceholderMark && std::to_string(s->buildTime) == value;
}

}  // namespace

bool parseVersionText(const std::string& text, Version* version) {
  std::string error;
  return parseVersion(text, version, &error);
}

bool parsePackageStates(const std::string& text, std::vector<PackageState>* states, NotationError* error,
                        uint32_t defaultBuildTime) {
  states->clear();
  size_t start = 0;  // of the package's text
  for (const std::string& part : fields(text, ';')) {
    std::vector<std::pair<size_t, std::string>> words;
    for (size_t at = 0; (at = part.find_first_not_of(" \t", at)) != std::string::npos; at += words.back().second.size())
      words.emplace_back(start + at, part.substr(at, part.find_first_of(" \t", at) - at));
    start += part.size() + 1;
    // A blank text is no package; a ";" that ends the text is allowed.
    if (words.empty() && start <= text.size())
      return *error = {start - 1, "a package needs a name and a version"}, false;
    if (words.empty()) continue;
    const auto fault = [&](size_t i, const char* what) {
      return *error = {words[i].first, what + (" \"" + words[i].second + "\"")}, false;
    };
    PackageState& s = states->emplace_back();
    s.buildTime = defaultBuildTime;
    if (!isName(s.name = words[0].second)) return fault(0, "bad package name");
    if (words.size() < 2) return fault(0, "no version after");
    if (words[1].second == "placeholder") s.version = s.buildTime = kPlaceholderMark;
    if (s.version != kPlaceholderMark && !parseVersionText(words[1].second, &s.version)) return fault(1, "bad version");
    for (size_t i = 2; i < words.size(); ++i)
      if (!readWord(words[i].second, &s)) return fault(i, "bad word");
  }
  return true;
}

std::vector<std::unique_ptr<Package>> makePackages(const std::string& text, bool nest) {
  std::vector<PackageState> states;
  NotationError error;
  EXPECT_TRUE(parsePackageStates(text, &states, &error)) << text << "\nat " << error.offset << ": " << error.what;
  std::vector<std::unique_ptr<Package>> packages;
  for (const PackageState& s : states) {
    auto p = std::make_unique<Package>(s.name);
    p->version = s.version, p->buildTime = s.buildTime, p->depends = s.depends, p->provides = s.provides;
    p->conflicts = s.conflicts, p->bundle.name = s.bundle, p->isBundle = s.isBundle, p->disabled = !s.disabled.empty();
    for (const std::string& file : s.files) p->files.insert("/" + file);
    for (auto action : {PackageAction::Uninstall, PackageAction::Enable, PackageAction::Disable})
      if (s.scheduled == actionWord(action)) p->action = action;
    const auto bundle =
        std::find_if(packages.rbegin(), packages.rend(), [&](auto& b) { return nest && b->name == s.bundle; });
    if (bundle == packages.rend()) packages.push_back(std::move(p));
    else (*bundle)->isBundle = true, (*bundle)->members.push_back(std::move(p));
  }
  return packages;
}
