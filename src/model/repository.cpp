// Lookups over the run's packages and the two rules that make bundles and
// their members follow each other's actions.
#include "model/repository.h"

#include "model/relations.h"

namespace {

// How one member bears on whether its bundle stays.
enum class MemberStanding { Keeps, Remains, Gone };

MemberStanding standingOf(const Package& member) {
  if (!member.disabled) {
    // An enabled member being enabled stays enabled just as one without action.
    if (member.action == PackageAction::None || member.action == PackageAction::Enable) return MemberStanding::Keeps;
    if (member.action == PackageAction::Disable) return MemberStanding::Remains;
    return MemberStanding::Gone;
  }
  if (member.action == PackageAction::Enable) return MemberStanding::Keeps;
  if (member.action == PackageAction::None || member.action == PackageAction::Disable) return MemberStanding::Remains;
  return MemberStanding::Gone;
}

}  // namespace

Repository& Repository::instance() {
  static Repository repository;
  return repository;
}

IndexedLookups::IndexedLookups(Repository& repository) : repository_(repository) {
  if (repository.index_ != nullptr) return;
  index_.reset(new PackageIndex(repository));
  repository.index_ = index_.get();
}

IndexedLookups::~IndexedLookups() {
  if (index_) repository_.index_ = nullptr;
}

int Repository::indexOf(const std::string& name) const {
  int found = -1;
  forEachNamed(name, [&](uint32_t position) {
    if (packages[position]->name == name) found = static_cast<int>(position);
    return found < 0;
  });
  return found;
}

Package* Repository::find(const std::string& name) const {
  const int index = indexOf(name);
  return index < 0 ? nullptr : packages[index].get();
}

Package* Repository::findProvider(const std::string& name) const {
  Dependency wanted;
  wanted.name = name;
  Package* enabled = nullptr;
  Package* lastMatch = nullptr;
  forEachNamed(name, [&](uint32_t position) {
    Package* package = packages[position].get();
    if (package->name != name && !providesFor(*package, wanted)) return true;
    if (!package->disabled) enabled = package;
    lastMatch = package;
    return enabled == nullptr;
  });
  return enabled != nullptr ? enabled : lastMatch;
}

Package* Repository::findConflicting(const Package& package) const {
  Package* found = nullptr;
  forEachRelated(package, [&](uint32_t position) {
    Package* other = packages[position].get();
    if (!other->disabled && conflictsWith(*other, package)) found = other;
    return found == nullptr;
  });
  return found;
}

bool Repository::anyStaysActive() const {
  for (const auto& package : packages) {
    if (package->action == PackageAction::Enable) return true;
    if (package->action == PackageAction::None && !package->disabled) return true;
  }
  return false;
}

void Repository::propagateBundleActions() {
  for (const auto& member : packages) {
    if (member->bundle.name.empty()) continue;
    const Package* bundle = find(member->bundle.name);
    if (bundle == nullptr) continue;
    switch (bundle->action) {
      case PackageAction::Disable:
        if (member->action != PackageAction::Uninstall) member->action = PackageAction::Disable;
        break;
      case PackageAction::Uninstall:
        member->action = PackageAction::Uninstall;
        break;
      case PackageAction::Enable:
        if (member->disabled) member->action = PackageAction::Enable;
        break;
      case PackageAction::None:
        break;
    }
  }
}

void Repository::settleBundles() {
  for (const auto& bundle : packages) {
    if (!bundle->isBundle || bundle->action == PackageAction::Uninstall) continue;

    // Scan the members until one keeps the bundle.
    bool kept = false;
    bool hasMembers = false;
    for (const auto& member : packages) {
      if (isPlaceholder(*member) || member->bundle.name != bundle->name) continue;
      const MemberStanding standing = standingOf(*member);
      if (standing == MemberStanding::Keeps) {
        kept = true;
        break;
      }
      if (standing == MemberStanding::Remains) hasMembers = true;
    }
    if (kept) continue;

    // No member stays enabled: the bundle goes, or a disabled bundle stays
    // disabled while it still has members.
    if (!hasMembers || !bundle->disabled) {
      bundle->action = PackageAction::Uninstall;
    } else if (bundle->action == PackageAction::Enable) {
      bundle->action = PackageAction::None;
    }
  }
}
