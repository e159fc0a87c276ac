// pkgtool version compare: the system's order of versions, for scripts.
#include <cstring>

#include "pkgtool/command_support.h"
#include "pkgtool/commands.h"
#include "pkgtool/version_parse.h"

namespace {

struct Relation {
  const char* word;
  bool (*holds)(Version a, Version b);
};

// Versions are packed so that their order is that of unsigned numbers.
constexpr Relation kRelations[] = {
    {"lt", [](Version a, Version b) { return a < b; }},  {"le", [](Version a, Version b) { return a <= b; }},
    {"eq", [](Version a, Version b) { return a == b; }}, {"ne", [](Version a, Version b) { return a != b; }},
    {"ge", [](Version a, Version b) { return a >= b; }}, {"gt", [](Version a, Version b) { return a > b; }},
};

}  // namespace

int runVersion(int argc, char** argv, std::ostream&, std::ostream& err) {
  if (argc != 4 || strcmp(argv[0], "compare") != 0) return usageError(err, "version", "expected compare A OP B");
  const Relation* relation = nullptr;
  for (const Relation& entry : kRelations)
    if (strcmp(argv[2], entry.word) == 0) relation = &entry;
  if (relation == nullptr)
    return usageError(err, "version", std::string("unknown relation ") + argv[2] + " (lt le eq ne ge gt)");
  Version a = 0, b = 0;
  std::string error;
  if (!parseVersion(argv[1], &a, &error) || !parseVersion(argv[3], &b, &error))
    return usageError(err, "version", error);
  return relation->holds(a, b) ? kExitOk : kExitNo;
}
