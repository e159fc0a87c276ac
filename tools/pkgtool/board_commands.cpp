// The commands that ask a board what is installed: files, owner and status.
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <vector>

#include "database/package_database.h"
#include "model/relations.h"
#include "pkgtool/board_query.h"
#include "pkgtool/command_support.h"
#include "pkgtool/commands.h"
#include "pkgtool/report_output.h"

namespace {

struct BoardQuery {
  std::string root;     // as the loader takes it: "" for "/"
  std::string subject;  // NAME or PATH; may be empty for status
  bool hasSubject = false;
};

// -r ROOT and at most one more word.
bool readQuery(int argc, char** argv, BoardQuery* query, std::string* error) {
  Arguments args(argc, argv, 0);
  std::string root = "/";
  int words = 0;
  while (!args.done() && !args.failed()) {
    if (args.option("-r", &root) || args.separator()) continue;
    query->subject = args.positional();
    ++words;
  }
  query->root = boardRoot(root);
  query->hasSubject = words == 1;
  if (args.failed())
    *error = args.error();
  else if (words > 1)
    *error = "give one name or path";
  return error->empty();
}

// The board path of the package's stored image, as the loader looks for it;
// empty when there is none.
std::string storedImage(const BoardQuery& query, const Package& package) {
  struct stat st;
  const std::string inEntry = kDatabaseDir + package.name + "/image";
  if (stat((query.root + inEntry).c_str(), &st) == 0 && S_ISREG(st.st_mode)) return inEntry;
  const std::string beside = kImagesDir + package.name;
  if (stat((query.root + beside).c_str(), &st) == 0 && S_ISREG(st.st_mode)) return beside;
  return std::string();
}

// The state the entry's files hold now, read as the loader reads them. The
// loader marks a package with a pending schedule as the user's already; only
// the next run acts on the schedule.
std::string stateText(const BoardQuery& query, const Package& package) {
  const std::string entry = query.root + kDatabaseDir + package.name + "/";
  std::ifstream disabled(entry + "disabled");
  std::string line;
  if (disabled.is_open()) return std::getline(disabled, line) && line == "auto" ? "disabled (auto)" : "disabled (user)";
  struct stat st;
  return stat((entry + "enabled").c_str(), &st) == 0 ? "enabled (user)" : "enabled";
}

// The board path PATH names, "." and ".." and repeated "/" taken out as the
// kernel would, without following links.
std::string normalPath(const std::string& path) {
  std::vector<std::string> names;
  for (size_t start = 0, end; start <= path.size(); start = end + 1) {
    end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string name = path.substr(start, end - start);
    if (name == "..") {
      if (!names.empty()) names.pop_back();
    } else if (!name.empty() && name != ".") {
      names.push_back(name);
    }
  }
  std::string normal;
  for (const std::string& name : names) normal += "/" + name;
  return normal;
}

void printList(const char* title, const std::vector<Dependency>& list, bool withPriority, std::ostream& out) {
  out << title << ":" << (list.empty() ? " none\n" : "\n");
  for (const Dependency& entry : list) out << "  " << dependencyText(entry, withPriority) << "\n";
}

void printStatus(const BoardQuery& query, const Package& package, std::ostream& out) {
  const std::string image = storedImage(query, package);
  out << "package: " << package.name << "\n"
      << "version: " << versionText(package.version) << "\n"
      << "build time: " << buildTimeText(package.buildTime) << " (" << package.buildTime << ")\n"
      << "state: " << stateText(query, package) << "\n";
  if (package.action != PackageAction::None) out << "next run: " << actionWord(package.action) << "\n";
  if (!package.description.empty()) out << "description: " << package.description << "\n";
  printList("depends", package.depends, false, out);
  printList("provides", package.provides, true, out);
  printList("conflicts", package.conflicts, false, out);
  out << "bundle: " << (package.bundle.name.empty() ? "none" : dependencyTitle(package.bundle)) << "\n"
      << "stored image: " << (image.empty() ? "none" : image) << "\n"
      << "files: " << package.files.size() << "\n";
}

// Loads the board of a query that names an installed package.
int findPackage(const char* command, int argc, char** argv, std::ostream& err, BoardQuery* query,
                Repository* repository, const Package** package) {
  std::string error;
  if (!readQuery(argc, argv, query, &error)) return usageError(err, command, error);
  if (!query->hasSubject && strcmp(command, "status") != 0) return usageError(err, command, "give a package name");
  if (!loadBoard(query->root, repository, &error)) return failure(err, command, error, kExitBroken);
  if (!query->hasSubject) return kExitOk;
  *package = repository->find(query->subject);
  if (*package == nullptr) return failure(err, command, query->subject + " is not installed", kExitNo);
  return kExitOk;
}

}  // namespace

int runFiles(int argc, char** argv, std::ostream& out, std::ostream& err) {
  BoardQuery query;
  Repository repository;
  const Package* package = nullptr;
  int status = findPackage("files", argc, argv, err, &query, &repository, &package);
  if (package == nullptr) return status;
  for (const std::string& path : package->files) out << kFlashDir << path << "\n";
  return kExitOk;
}

int runStatus(int argc, char** argv, std::ostream& out, std::ostream& err) {
  BoardQuery query;
  Repository repository;
  const Package* package = nullptr;
  int status = findPackage("status", argc, argv, err, &query, &repository, &package);
  if (status != kExitOk) return status;
  const char* separator = "";
  for (const auto& installed : repository.packages) {
    if (package != nullptr && installed.get() != package) continue;
    out << separator;
    printStatus(query, *installed, out);
    separator = "\n";
  }
  return kExitOk;
}

int runOwner(int argc, char** argv, std::ostream& out, std::ostream& err) {
  BoardQuery query;
  Repository repository;
  std::string error;
  if (!readQuery(argc, argv, &query, &error)) return usageError(err, "owner", error);
  if (!query.hasSubject) return usageError(err, "owner", "give a path below /flash");
  const std::string path = normalPath(query.subject);
  const size_t prefix = strlen(kFlashDir);
  if (query.subject[0] != '/' || path.compare(0, prefix, kFlashDir) != 0 || path.size() <= prefix + 1 ||
      path[prefix] != '/')
    return usageError(err, "owner", query.subject + ": not a path below /flash, where every installed file lies");
  if (!loadBoard(query.root, &repository, &error)) return failure(err, "owner", error, kExitBroken);
  bool owned = false;
  for (const auto& package : repository.packages) {
    if (package->files.count(path.substr(prefix)) == 0) continue;
    out << package->name << ": " << path << "\n";
    owned = true;
  }
  if (!owned) return failure(err, "owner", "no installed package owns " + path, kExitNo);
  return kExitOk;
}
