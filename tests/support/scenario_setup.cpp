#include "support/scenario_setup.h"

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "support/package_damage.h"
#include "support/packaging_tool.h"
#include "support/scenario_text.h"
#include "support/state_notation.h"

namespace {

bool fail(ScenarioFailure* failure, int line, const std::string& message) {
  failure->line = line;
  failure->message = message;
  return false;
}

std::string publicKeyPath() {
  const std::string key = developmentKeyPath();
  return key.substr(0, key.rfind('.')) + ".pub";
}

void replaceAll(std::string* text, const std::string& from, const std::string& to) {
  for (size_t at = text->find(from); !from.empty() && at != std::string::npos; at = text->find(from, at + to.size()))
    text->replace(at, from.size(), to);
}

// A leading "MODE " of four octal digits is taken off the text.
void takeMode(std::string* text, unsigned* mode) {
  if (text->size() < 5 || (*text)[4] != ' ' || text->substr(0, 4).find_first_not_of("01234567") != std::string::npos)
    return;
  *mode = static_cast<unsigned>(std::stoul(text->substr(0, 4), nullptr, 8));
  text->erase(0, 5);
}

bool isBoardPath(const std::string& path, std::string* error) {
  if (!path.empty() && path[0] == '/') return true;
  return *error = "a board path starts with \"/\": " + path, false;
}

bool boardPath(const std::string& token, std::string* path, std::string* error) {
  return unescape(token, path, error) && isBoardPath(*path, error);
}

// "[MODE ]PATH=CONTENT"
bool parseFileLine(const std::string& line, unsigned mode, ScenarioContext& context, ShelfFile* file,
                   std::string* error) {
  std::string text = line;
  takeMode(&text, &mode);
  const size_t equals = text.find('=');
  if (equals == std::string::npos || equals == 0) return *error = "expected [MODE ]PATH=CONTENT", false;
  ContentSpec spec;
  file->mode = mode;
  return unescape(text.substr(0, equals), &file->path, error) &&
         parseInputContent(text.substr(equals + 1), &spec, error) &&
         contentBytes(spec, context.shelf.lookup(), &file->content, error);
}

bool makeDirectories(const std::string& path, unsigned mode) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
    ::mkdir(path.substr(0, slash).c_str(), 0755);
  return (::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) && ::chmod(path.c_str(), mode) == 0;
}

std::string parentOf(const std::string& path) { return path.substr(0, path.rfind('/')); }

DatabaseEntry databaseEntry(const PackageState& state) {
  DatabaseEntry entry;
  entry.name = state.name;
  entry.version = std::make_pair(state.version, state.buildTime);
  entry.deps = state.depends;
  if (!state.provides.empty()) entry.provides = state.provides;
  if (!state.conflicts.empty()) entry.conflicts = state.conflicts;
  if (!state.bundle.empty()) entry.bundle = state.bundle;
  if (!state.isBundle) entry.files = state.files;
  if (!state.disabled.empty()) entry.disabled = state.disabled;
  if (state.enabledByUser) entry.enabled = std::string("user");
  return entry;
}

// Each package's database entry, its schedule word and its listed files
// (below /flash/x/NAME/ when it is disabled), each holding "NAME\n".
bool installPackages(const Step& step, ScenarioContext& context, ScenarioFailure* failure) {
  std::vector<PackageState> states;
  NotationError error;
  if (!parsePackageStates(step.rest, &states, &error, kTestBuildTime))
    return fail(failure, step.line, "column " + std::to_string(step.restColumn + error.offset) + ": " + error.what);
  for (const PackageState& state : states) {
    bool ok = context.board.writeDatabaseEntry(databaseEntry(state));
    if (!state.scheduled.empty()) ok = ok && context.board.writeSchedule(state.name, state.scheduled);
    const std::string root = state.disabled.empty() ? "/flash/" : "/flash/x/" + state.name + "/";
    for (const std::string& file : state.files)
      ok = ok && context.board.write(root + file.substr(file[0] == '/' ? 1 : 0), state.name + "\n");
    if (!ok) return fail(failure, step.line, "cannot write what is installed of " + state.name);
  }
  return true;
}

bool writeBoardFile(const Step& step, ScenarioContext& context, ScenarioFailure* failure) {
  ShelfFile file;
  std::string error;
  if (!parseFileLine(step.rest, 0644, context, &file, &error) || !isBoardPath(file.path, &error))
    return fail(failure, step.line, error);
  if (!context.board.write(file.path, file.content, file.mode)) return fail(failure, step.line, "cannot write it");
  return true;
}

bool makeDirectory(const Step& step, ScenarioContext& context, ScenarioFailure* failure) {
  std::string text = step.rest, path, error;
  unsigned mode = 0755;
  takeMode(&text, &mode);
  if (!boardPath(text, &path, &error)) return fail(failure, step.line, error);
  if (!makeDirectories(context.board.path(path), mode)) return fail(failure, step.line, "cannot make it");
  return true;
}

bool makeLink(const Step& step, ScenarioContext& context, ScenarioFailure* failure) {
  const size_t equals = step.rest.find('=');
  std::string path, target, error;
  if (equals == std::string::npos || !boardPath(step.rest.substr(0, equals), &path, &error) ||
      !unescape(step.rest.substr(equals + 1), &target, &error))
    return fail(failure, step.line, error.empty() ? "expected PATH=TARGET" : error);
  const std::string host = context.board.path(path);
  if (!makeDirectories(parentOf(host), 0755) || ::symlink(target.c_str(), host.c_str()) != 0)
    return fail(failure, step.line, "cannot make the link");
  return true;
}

bool makeFifo(const Step& step, ScenarioContext& context, ScenarioFailure* failure) {
  std::string text = step.rest, path, error;
  unsigned mode = 0644;
  takeMode(&text, &mode);
  if (!boardPath(text, &path, &error)) return fail(failure, step.line, error);
  const std::string host = context.board.path(path);
  if (!makeDirectories(parentOf(host), 0755) || ::mkfifo(host.c_str(), mode) != 0 || ::chmod(host.c_str(), mode) != 0)
    return fail(failure, step.line, "cannot make the pipe");
  return true;
}

int removeEntry(const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }

bool removePath(const Step& step, ScenarioContext& context, ScenarioFailure* failure) {
  std::string path, error;
  if (!boardPath(step.rest, &path, &error)) return fail(failure, step.line, error);
  if (!pathExists(context.board.path(path)) ||
      ::nftw(context.board.path(path).c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS) != 0)
    return fail(failure, step.line, "cannot remove " + path);
  return true;
}

// The directories below the mount point are made again on the new file system.
bool mountTmpfs(const Step& step, ScenarioContext& context, ScenarioFailure* failure) {
  const std::vector<std::string> words = splitWords(step.rest);
  std::string path, error;
  size_t size = 0;
  if (words.size() != 2 || !boardPath(words[0], &path, &error) || !parseSize(words[1], &size))
    return fail(failure, step.line, "expected tmpfs PATH SIZE (SIZE: bytes, 64K, 1M)");
  const TreeSnapshot below = snapshotTree(context.board.path(path));
  if (!context.board.mountTmpfs(path, size)) {
    failure->unavailable = true;
    return fail(failure, step.line, context.board.whyUnusable());
  }
  for (const auto& [relative, entry] : below)
    if (entry.type == TreeEntry::Directory && !makeDirectories(context.board.path(path + relative), entry.mode))
      return fail(failure, step.line, "cannot make " + path + relative + " again");
  return true;
}

// The line as it is, so that the manifest's own escapes ("\040") pass.
bool addManifestLine(const Step& step, ScenarioContext& context, ScenarioFailure* failure) {
  const std::string lines = readFile(context.board.path("/ram/MANIFEST"));
  if (!context.board.write("/ram/MANIFEST", lines + step.rest + "\n"))
    return fail(failure, step.line, "cannot write it");
  return true;
}

bool setEnvironment(const Step& step, ScenarioContext& context, ScenarioFailure* failure) {
  std::vector<std::string> words;
  std::string error;
  if (!expandWords(step.rest, context, &words, &error)) return fail(failure, step.line, error);
  for (size_t i = 0; i < words.size(); ++i) {
    const size_t equals = words[i].find('=');
    if (words[i] == "-u" && i + 1 < words.size())
      context.environment[words[++i]] = std::nullopt;
    else if (equals != std::string::npos && equals > 0)
      context.environment[words[i].substr(0, equals)] = words[i].substr(equals + 1);
    else
      return fail(failure, step.line, "expected NAME=VALUE or -u NAME");
  }
  return true;
}

// NAME VERSION WORDS... [-> PLACE]
struct MakeLine {
  std::string name, version, place;
  std::vector<std::string> words;
};

bool parseMakeLine(const Step& step, ScenarioContext& context, MakeLine* line, std::string* error) {
  std::vector<std::string> words;
  if (!expandWords(step.rest, context, &words, error)) return false;
  if (words.size() >= 2 && words[words.size() - 2] == "->") {
    line->place = words.back();
    words.resize(words.size() - 2);
  }
  if (words.size() < 2) return *error = "expected NAME VERSION", false;
  line->name = words[0];
  line->version = words[1];
  line->words.assign(words.begin() + 2, words.end());
  return true;
}

// Where a package goes: /flash/rw/pckg/NAME-VERSION.vpa unless the line says
// a board path, "image" (its stored image) or "-" (nowhere).
bool place(const MakeLine& line, ScenarioContext& context, std::string* error) {
  context.placed.erase(line.name);
  if (line.place == "-") return true;
  const std::string path = line.place.empty()      ? "/flash/rw/pckg/" + line.name + "-" + line.version + ".vpa"
                           : line.place == "image" ? "/flash/var/pdb/" + line.name + "/image"
                                                   : line.place;
  if (path[0] != '/') return *error = "a package goes to a board path, \"image\" or \"-\"", false;
  context.placed[line.name] = path;
  if (!context.board.write(path, *context.shelf.find(line.name))) return *error = "cannot write " + path, false;
  return true;
}

bool bodyFiles(const Step& step, ScenarioContext& context, std::vector<ShelfFile>* files, ScenarioFailure* failure) {
  for (const ScenarioLine& line : step.body) {
    ShelfFile file;
    std::string error;
    const unsigned mode = line.text.compare(0, 4, "bin/") == 0 ? 0755 : 0644;
    if (!parseFileLine(line.text, mode, context, &file, &error)) return fail(failure, line.number, error);
    files->push_back(file);
  }
  return true;
}

bool buildPackage(const Step& step, ScenarioContext& context, ScenarioFailure* failure) {
  MakeLine line;
  std::vector<ShelfFile> files;
  std::string error;
  if (!parseMakeLine(step, context, &line, &error)) return fail(failure, step.line, error);
  if (!bodyFiles(step, context, &files, failure)) return false;
  const bool built = step.keyword == "package"
                         ? context.shelf.build(line.name, line.version, files, line.words, &error)
                         : line.words.empty() && context.shelf.buildUnchecked(line.name, line.version, files, &error);
  if (!built || !place(line, context, &error))
    return fail(failure, step.line, error.empty() ? "an unchecked package takes no options" : error);
  return true;
}

// NAME VERSION MEMBER... [OPTIONS...] [-> PLACE]: members up to the first option.
bool buildBundle(const Step& step, ScenarioContext& context, ScenarioFailure* failure) {
  MakeLine line;
  std::string error;
  if (!parseMakeLine(step, context, &line, &error)) return fail(failure, step.line, error);
  auto firstOption = line.words.begin();
  while (firstOption != line.words.end() && (*firstOption)[0] != '-') ++firstOption;
  const std::vector<std::string> members(line.words.begin(), firstOption), options(firstOption, line.words.end());
  if (!context.shelf.bundle(line.name, line.version, members, options, &error) || !place(line, context, &error))
    return fail(failure, step.line, error);
  return true;
}

// The text after its first `count` words and the blanks after them.
std::string afterWords(const std::string& text, size_t count) {
  size_t at = text.find_first_not_of(" \t");
  for (size_t i = 0; i < count && at != std::string::npos; ++i)
    at = text.find_first_not_of(" \t", text.find_first_of(" \t", at));
  return at == std::string::npos ? std::string() : text.substr(at);
}

// NAME KNOB...; "append CONTENT" adds bytes. A placed package is written again.
bool damageBuilt(const Step& step, ScenarioContext& context, ScenarioFailure* failure) {
  std::vector<std::string> words = splitWords(step.rest);
  std::string* bytes = words.size() < 2 ? nullptr : context.shelf.find(words[0]);
  if (!bytes) return fail(failure, step.line, "expected damage NAME KNOB, NAME a package built before it");
  std::string error, added;
  ContentSpec spec;
  if (words[1] == "append") {
    if (!parseInputContent(afterWords(step.rest, 2), &spec, &error) ||
        !contentBytes(spec, context.shelf.lookup(), &added, &error))
      return fail(failure, step.line, error);
    *bytes += added;
  } else if (!damagePackage(std::vector<std::string>(words.begin() + 1, words.end()), bytes, &error)) {
    return fail(failure, step.line, error);
  }
  const auto placed = context.placed.find(words[0]);
  if (placed != context.placed.end() && !context.board.write(placed->second, *bytes))
    return fail(failure, step.line, "cannot write " + placed->second);
  return true;
}

using Directive = bool (*)(const Step&, ScenarioContext&, ScenarioFailure*);

const std::pair<const char*, Directive> kDirectives[] = {
    {"installed", installPackages},
    {"file", writeBoardFile},
    {"dir", makeDirectory},
    {"link", makeLink},
    {"fifo", makeFifo},
    {"remove", removePath},
    {"tmpfs", mountTmpfs},
    {"manifest", addManifestLine},
    {"env", setEnvironment},
    {"package", buildPackage},
    {"unchecked-package", buildPackage},
    {"bundle", buildBundle},
    {"damage", damageBuilt},
};

}  // namespace

bool applySetup(const Step& step, ScenarioContext& context, ScenarioFailure* failure) {
  for (const auto& [keyword, directive] : kDirectives)
    if (step.keyword == keyword) return directive(step, context, failure);
  return fail(failure, step.line, "\"" + step.keyword + "\" is not a setup directive");
}

bool expandWords(const std::string& text, const ScenarioContext& context, std::vector<std::string>* words,
                 std::string* error) {
  words->clear();
  for (const std::string& word : splitWords(text)) {
    std::string decoded;
    if (!unescape(word, &decoded, error)) return false;
    replaceAll(&decoded, "$KEY", developmentKeyPath());
    replaceAll(&decoded, "$PUB", publicKeyPath());
    replaceAll(&decoded, "$ROOT", context.board.root());
    words->push_back(decoded);
  }
  return true;
}

std::string hideHostPaths(const std::string& text, const ScenarioContext& context) {
  std::string out = text;
  replaceAll(&out, developmentKeyPath(), "$KEY");
  replaceAll(&out, publicKeyPath(), "$PUB");
  replaceAll(&out, context.board.root(), "$ROOT");
  return out;
}
