#include "support/state_notation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <sstream>

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

bool readWord(const std::string& word, Package* p) {
  const std::string key = word.substr(0, word.find('=') + 1), value = word.substr(key.size());
  auto* list = word[0] == '>' ? &p->depends : word[0] == '+' ? &p->provides : word[0] == '!' ? &p->conflicts : nullptr;
  if (list) return readEntry(word.substr(1), word[0] == '+', list);
  if (word[0] == '@') return isName(p->bundle.name = word.substr(1));
  if (word == "disabled" || word == "disabled=auto") return p->disabled = true, p->userForced = word == "disabled";
  if (word == "enabled=user") return p->userForced = true;
  if (word == "bundle") return p->isBundle = true;
  for (auto action : {PackageAction::Uninstall, PackageAction::Enable, PackageAction::Disable})
    if (word == actionWord(action)) return p->action = action, true;
  if (key == "files=") {
    const std::vector<std::string> names = value.empty() ? std::vector<std::string>() : fields(value, ',');
    for (const std::string& name : names) p->files.insert("/" + name);
    return std::count(names.begin(), names.end(), "") == 0;
  }
  p->buildTime = static_cast<uint32_t>(std::strtoull(value.c_str(), nullptr, 10));
  return key == "built=" && p->version != kPlaceholderMark && std::to_string(p->buildTime) == value;
}

}  // namespace

bool parseVersionText(const std::string& text, Version* version) {
  std::string error;
  return parseVersion(text, version, &error);
}

std::vector<std::unique_ptr<Package>> makePackages(const std::string& text, bool nest) {
  std::vector<std::unique_ptr<Package>> packages;
  for (const std::string& part : fields(text, ';')) {
    std::istringstream in(part);
    const std::vector<std::string> words{std::istream_iterator<std::string>(in), {}};
    if (words.empty()) continue;  // as after a ";" that ends the text
    auto p = std::make_unique<Package>(words[0]);
    if (words.size() > 1 && words[1] == "placeholder") p->version = p->buildTime = kPlaceholderMark;
    bool ok = isName(p->name) && words.size() > 1 &&
              (p->version == kPlaceholderMark || parseVersionText(words[1], &p->version));
    for (size_t i = 2; ok && i < words.size(); ++i) ok = readWord(words[i], p.get());
    if (!ok) ADD_FAILURE() << "bad package \"" << part << "\" in " << text;
    const auto bundle =
        std::find_if(packages.rbegin(), packages.rend(), [&](auto& b) { return nest && b->name == p->bundle.name; });
    if (bundle == packages.rend()) packages.push_back(std::move(p));
    else (*bundle)->isBundle = true, (*bundle)->members.push_back(std::move(p));
  }
  return packages;
}
