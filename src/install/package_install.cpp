// Installing a single package or a bundle with its members from one package
// stream: judging, replacing the installed package, unpacking, and settling
// the scheduled actions again after every installed package.
#include "install/package_install.h"

#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "database/package_database.h"
#include "model/relations.h"
#include "install/package_contents.h"
#include "pkgfile/package_header.h"
#include "database/package_removal.h"
#include "pkgfile/package_stream.h"
#include "planning/candidate_judgement.h"
#include "model/console.h"
#include "install/scheduled_actions.h"

namespace {

// A resumed install blanks the whole progress line before it is cleared.
constexpr size_t kProgressBlankWidth = 78;

// Every reason is collected, none reported: how a bundle member is judged.
const InstallFlags kEveryReason = Upgrade | Downgrade | Unmet | Conflict | Reinstall;

using Outcome = PackageOutcome;

struct InstallResult {
  Outcome outcome;
  Package* package;  // the installed or kept package, or null
};

bool isInRepository(const Repository& repository, const Package* package) {
  for (const auto& entry : repository.packages)
    if (entry.get() == package) return true;
  return false;
}

// Takes the first package of the name out of the repository and destroys it;
// with `uninstall`, its files and database entry are staged for removal first.
void dropInstalled(Repository& repository, Transaction& transaction, const std::string& name, bool uninstall,
                   const std::string& root) {
  const int index = repository.indexOf(name);
  if (index < 0) return;
  if (uninstall) uninstallPackage(repository, *repository.packages[index], transaction, root);
  repository.packages.erase(repository.packages.begin() + index);
}

// The same version is installed and the run resumes an upgrade: the package
// is reported as installed, and nothing changes.
Package* reportResumed(Repository& repository, const Package& package, bool* bootImage) {
  setProgressLine(repository, std::string(kProgressBlankWidth, ' '));
  setProgressLine(repository, std::string());
  reportInfo(repository, "installed %s%s", package.disabled ? "(disabled) " : "", packageTitle(package).c_str());
  Package* installed = repository.find(package.name);
  if (bootImage != nullptr) *bootImage = installed != nullptr && (installed->flags & BootImage);
  return installed;
}

// Steps 3 to 5: the reasons against the package, and whether it starts
// disabled. A conflict disables the package instead of refusing it.
InstallFlags judge(Repository& repository, Package& package, InstallFlags permitted,
                   const PreservedStates& preservedStates, bool member) {
  InstallFlags reasons = judgeCandidate(repository, package, member ? kEveryReason : permitted | Conflict);
  auto preserved = preservedStates.find(package.name);
  if (preserved != preservedStates.end()) {
    package.disabled = preserved->second;
    package.userForced = true;
  }
  if (reasons & Conflict) {
    reasons &= ~Conflict;
    package.disabled = true;
  }
  return reasons;
}

// installPackage, telling apart the ways a package can fail to be installed.
InstallResult installOne(Repository& repository, Transaction& transaction, PackageStream& stream,
                         InstallFlags permitted, const PreservedStates& preservedStates,
                         const Dependency* bundleReference, std::string* imageDirectory, bool* bootImage,
                         const std::string& root) {
  // 1. The header.
  auto package = std::make_unique<Package>();
  if (!readPackageHeader(*package, stream)) return {Outcome::Unreadable, nullptr};

  // 2. Where a package kept as a stored image goes.
  if (package->hasImage && imageDirectory != nullptr) *imageDirectory = entryDirectory(package->name, root);

  // 3-5. Judging.
  const bool member = bundleReference != nullptr;
  const InstallFlags reasons = judge(repository, *package, permitted, preservedStates, member);

  // A member carries its bundle, also into the messages about it.
  if (member) package->bundle = *bundleReference;

  // 6. Not installed: a reason outside the permitted set, or the same version.
  //    A member passed over, or a package reported as installed, is read to
  //    its signature all the same: what goes on the board is verified whole.
  if (reasons & (~permitted | Reinstall)) {
    const bool resumed = !member && (reasons & Reinstall) && (permitted & Reinstall);
    if (!member && !resumed) {
      return {refusedAsNotNewer(reasons, permitted) ? Outcome::NotNewer : Outcome::Refused, nullptr};
    }
    if (!verifyPassedOver(repository, *package, stream)) return {Outcome::Failed, nullptr};
    if (member) return {Outcome::Kept, repository.find(package->name)};
    return {Outcome::Kept, reportResumed(repository, *package, bootImage)};
  }

  // 8. It replaces the installed package of its name, unless it comes from an
  //    unregistered file, which installs beside it.
  if (!stream.isUnregistered()) dropInstalled(repository, transaction, package->name, true, root);

  // 9-10. Unpacking; then the repository owns it.
  if (!installContents(repository, *package, transaction, stream, root)) return {Outcome::Failed, nullptr};
  Package* installed = package.get();
  repository.packages.push_back(std::move(package));

  // 11. Conflicts and dependencies are settled against the grown repository.
  //     That plan may uninstall the new package again (its provider went); it
  //     is then destroyed and must not be handed out.
  applyScheduledActions(repository, transaction, false, root);
  if (!isInRepository(repository, installed)) {
    if (bootImage != nullptr) *bootImage = false;
    return {Outcome::Withdrawn, nullptr};
  }

  // 12-13.
  if (bootImage != nullptr) *bootImage = keptAsBootImage(*installed);
  return {Outcome::Installed, installed};
}

// Step 12 of installBundle: every member named by the list part starts
// disabled, through an anonymous record that conflicts with every version of
// it, unless the user forced the member's state. A list that cannot be read
// leaves the stream broken and adds nothing.
void addStartDisabledRecords(Repository& repository, PackageStream& stream,
                             const PreservedStates& preservedStates) {
  std::vector<Dependency> entries;
  const bool read = readDependencyList(stream, entries);
  stream.nextPart();
  if (!read) return;
  for (const Dependency& entry : entries) {
    if (preservedStates.count(entry.name) != 0) continue;
    auto record = std::make_unique<Package>();
    Dependency conflict;
    conflict.name = entry.name;
    record->conflicts.push_back(conflict);
    repository.packages.push_back(std::move(record));
  }
}

// Step 11 of installBundle: the names of the installed bundle's members.
std::set<std::string> membersOf(const Repository& repository, const std::string& bundleName) {
  std::set<std::string> names;
  for (const auto& package : repository.packages)
    if (package->bundle.name == bundleName) names.insert(package->name);
  return names;
}

// Step 13 of installBundle. Members that the previous version had and this
// one brings are taken out of `oldMembers`. False when the bundle turned out
// broken: a member header that cannot be read or a member that cannot be
// unpacked; the stream is never read again at the same header.
bool installMembers(Repository& repository, Transaction& transaction, PackageStream& stream,
                    InstallFlags permitted, const PreservedStates& preservedStates, const Dependency& reference,
                    bool* bootImage, const std::string& root, std::set<std::string>& oldMembers, int& count) {
  while (stream.partType() == kPackageHeaderPart) {
    bool memberBootImage = false;
    const InstallResult result = installOne(repository, transaction, stream, permitted, preservedStates,
                                            &reference, nullptr, &memberBootImage, root);
    if (result.outcome == Outcome::Failed) return false;  // reported by unpacking
    if (result.outcome == Outcome::Unreadable) break;
    if (result.package == nullptr) continue;
    ++count;
    oldMembers.erase(result.package->name);
    if (bootImage != nullptr && memberBootImage) *bootImage = true;
  }
  // A member header that cannot be read, a part that runs past the end of the
  // file, or anything after the last member that no signature covers: told
  // under the bundle's title, as a member's own failures are.
  if (stream.partType() == kPackageHeaderPart || stream.isBroken() || !stream.endedAtFileEnd()) {
    Package member;
    member.bundle = reference;
    reportBrokenPackage(repository, member);
    return false;
  }
  return true;
}

}  // namespace

Package* installPackage(Repository& repository, Transaction& transaction, PackageStream& stream,
                        InstallFlags permitted, const PreservedStates& preservedStates,
                        const Dependency* bundleReference, std::string* imageDirectory, bool* bootImage,
                        const std::string& root) {
  return installOne(repository, transaction, stream, permitted, preservedStates, bundleReference, imageDirectory,
                    bootImage, root)
      .package;
}

Package* installPackage(Repository& repository, Transaction& transaction, PackageStream& stream,
                        InstallFlags permitted, const PreservedStates& preservedStates,
                        const Dependency* bundleReference, std::string* imageDirectory, bool* bootImage,
                        PackageOutcome* outcome, const std::string& root) {
  const InstallResult result = installOne(repository, transaction, stream, permitted, preservedStates,
                                          bundleReference, imageDirectory, bootImage, root);
  if (outcome != nullptr) *outcome = result.outcome;
  return result.package;
}

BundleResult installBundle(Repository& repository, Transaction& transaction, PackageStream& stream,
                           InstallFlags permitted, const PreservedStates& preservedStates,
                           std::string* imageDirectory, bool* bootImage, const std::string& root) {
  return installBundle(repository, transaction, stream, permitted, preservedStates, imageDirectory, bootImage,
                       nullptr, root);
}

BundleResult installBundle(Repository& repository, Transaction& transaction, PackageStream& stream,
                           InstallFlags permitted, const PreservedStates& preservedStates,
                           std::string* imageDirectory, bool* bootImage, bool* notNewer,
                           const std::string& root) {
  // 1-3. The bundle header, past its image marker.
  if (bootImage != nullptr) *bootImage = false;
  if (notNewer != nullptr) *notNewer = false;
  auto bundle = std::make_unique<Package>();
  if (!readPackageHeader(*bundle, stream) || !bundle->isBundle) return kBundleUnreadable;
  if (stream.partType() == kImagePart) stream.nextPart();

  // 4-5. Where its stored image goes; judged and reported as usual.
  if (bundle->hasImage && imageDirectory != nullptr) *imageDirectory = entryDirectory(bundle->name, root);
  const InstallFlags reasons = judgeCandidate(repository, *bundle, permitted);
  if (reasons & ~permitted) {
    if (notNewer != nullptr) *notNewer = refusedAsNotNewer(reasons, permitted);
    return kBundleRefused;
  }

  // 6-7. The installed bundle record makes way for the new one.
  dropInstalled(repository, transaction, bundle->name, true, root);
  if (!saveEntry(*bundle, transaction, root)) return kBundleUnreadable;

  // 8-10. The bundle joins the repository. The record may be settled away
  //       by the plans while its members are installed, so only its name and
  //       reference are used from here on.
  const Dependency reference = bundleReference(*bundle);
  dropInstalled(repository, transaction, bundle->name, false, root);
  repository.packages.push_back(std::move(bundle));

  // 11-12. The previous version's members, and those that start disabled.
  std::set<std::string> oldMembers = membersOf(repository, reference.name);
  if (stream.partType() == kBundleMembersPart) addStartDisabledRecords(repository, stream, preservedStates);

  // 13-14. The members.
  int count = 0;
  if (!installMembers(repository, transaction, stream, permitted, preservedStates, reference, bootImage, root,
                      oldMembers, count))
    return kBundleUnreadable;
  if (count == 0) return kBundleNothingInstalled;

  // 15-16. Members this version no longer has are uninstalled by the plan.
  for (const std::string& name : oldMembers) {
    Package* old = repository.find(name);
    if (old != nullptr) old->action = Uninstall;
  }
  applyScheduledActions(repository, transaction, false, root);

  // 17-18.
  setProgressLine(repository, std::string());
  reportInfo(repository, "installed %s", dependencyTitle(reference).c_str());
  return kBundleInstalled;
}
