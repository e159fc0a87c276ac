// Installing a single package or a bundle with its members from one package
// stream: judging, replacing the installed package, unpacking, and settling
// the scheduled actions again after every installed package.
#include "install/package_install.h"

#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "database/package_database.h"
#include "database/package_removal.h"
#include "install/notices_told.h"
#include "install/package_contents.h"
#include "install/scheduled_actions.h"
#include "model/relations.h"
#include "pkgfile/package_header.h"
#include "pkgfile/package_stream.h"
#include "planning/candidate_judgement.h"

namespace {

// A resumed install blanks the whole progress line before it is cleared.
constexpr size_t kProgressBlankWidth = 78;

// Every reason is collected, none reported: how a bundle member is judged.
const InstallFlags kEveryReason = InstallFlags::Upgrade | InstallFlags::Downgrade | InstallFlags::Unmet |
                                  InstallFlags::Conflict | InstallFlags::Reinstall;

// The parts an installing reader acts on, in the order it accepts them.
constexpr PartType kInstallParts[] = {
    kPackageHeaderPart, kBundleHeaderPart, kBundleMembersPart, kArchitecturePart, kDependsPart,
    kProvidesPart,      kConflictsPart,    kImagePart,         kFileContainerPart, kSignaturePart,
};

InstallResult resultOf(InstallOutcome outcome, Package* package = nullptr) {
  InstallResult result;
  result.outcome = outcome;
  result.package = package;
  return result;
}

bool isInRepository(const Repository& repository, const Package* package) {
  for (const auto& entry : repository.packages)
    if (entry.get() == package) return true;
  return false;
}

// Takes the first package of the name out of the repository and destroys it;
// with `uninstall`, its files and database entry are staged for removal first.
void dropInstalled(InstallRun& run, const std::string& name, bool uninstall) {
  const int index = run.repository.indexOf(name);
  if (index < 0) return;
  if (uninstall) uninstallInstalled(run, *run.repository.packages[index]);
  run.repository.packages.erase(run.repository.packages.begin() + index);
}

// The same version is installed and the run resumes an upgrade: the package
// is reported as installed, and nothing changes.
InstallResult reportResumed(InstallRun& run, const Package& package) {
  run.console.setProgressLine(std::string(kProgressBlankWidth, ' '));
  run.console.setProgressLine(std::string());
  run.console.reportInfo("installed %s%s", package.disabled ? "(disabled) " : "", packageTitle(package).c_str());
  InstallResult result = resultOf(InstallOutcome::Resumed, run.repository.find(package.name));
  result.bootImage = result.package != nullptr && hasFlag(result.package->flags, PackageFlag::BootImage);
  return result;
}

// The reasons against the package, and whether it starts disabled. A
// conflict disables the package instead of refusing it.
InstallFlags judge(InstallRun& run, Package& package, bool member) {
  const Judgement judgement =
      judgeCandidate(run.repository, package, member ? kEveryReason : run.permitted | InstallFlags::Conflict);
  tell(run.console, judgement.notices);
  InstallFlags reasons = judgement.reasons;
  auto preserved = run.preservedStates.find(package.name);
  if (preserved != run.preservedStates.end()) {
    package.disabled = preserved->second;
    package.userForced = true;
  }
  if (any(reasons, InstallFlags::Conflict)) {
    reasons &= ~InstallFlags::Conflict;
    package.disabled = true;
  }
  return reasons;
}

// A package that is not installed: refused, or (a bundle member, or the same
// version in resume mode) read through to its signature, which must hold.
InstallResult notInstalled(InstallRun& run, const Package& package, PackageStream& stream, InstallFlags reasons,
                           bool member) {
  const bool resumed = !member && any(reasons, InstallFlags::Reinstall) && any(run.permitted, InstallFlags::Reinstall);
  if (!member && !resumed) {
    return resultOf(refusedAsNotNewer(reasons, run.permitted) ? InstallOutcome::NotNewer : InstallOutcome::Refused);
  }
  if (!verifyPassedOver(run.console, package, stream)) return resultOf(InstallOutcome::Broken);
  if (member) return resultOf(InstallOutcome::Skipped, run.repository.find(package.name));
  return reportResumed(run, package);
}

// Every member named by the list part starts disabled, through an anonymous
// record that conflicts with every version of it, unless the user forced the
// member's state. A list that cannot be read leaves the stream broken and
// adds nothing.
void addStartDisabledRecords(InstallRun& run, PackageStream& stream) {
  std::vector<Dependency> entries;
  const bool read = readDependencyList(stream, entries);
  stream.nextPart();
  if (!read) return;
  for (const Dependency& entry : entries) {
    if (run.preservedStates.count(entry.name) != 0) continue;
    auto record = std::make_unique<Package>();
    Dependency conflict;
    conflict.name = entry.name;
    record->conflicts.push_back(conflict);
    run.repository.packages.push_back(std::move(record));
  }
}

// The names of the installed bundle's members.
std::set<std::string> membersOf(const Repository& repository, const std::string& bundleName) {
  std::set<std::string> names;
  for (const auto& package : repository.packages)
    if (package->bundle.name == bundleName) names.insert(package->name);
  return names;
}

// A bundle's members. Those that the previous version had and this one brings
// are taken out of `oldMembers`; `count` counts those in place. False when the
// bundle turned out broken, reported: a member that cannot be read, unpacked
// or verified, or anything after the last member that no signature covers.
bool installMembers(InstallRun& run, PackageStream& stream, const Dependency& reference,
                    std::set<std::string>& oldMembers, InstallResult& bundle) {
  int count = 0;
  while (stream.partType() == kPackageHeaderPart) {
    const InstallResult member = installPackage(run, stream, &reference);
    if (member.outcome == InstallOutcome::Broken) return false;  // reported by unpacking
    if (member.outcome == InstallOutcome::Unreadable) break;
    if (member.package == nullptr) continue;
    ++count;
    oldMembers.erase(member.package->name);
    if (member.bootImage) bundle.bootImage = true;
  }
  // Told under the bundle's title, as a member's own failures are.
  if (stream.partType() == kPackageHeaderPart || stream.isBroken() || !stream.endedAtFileEnd()) {
    Package member;
    member.bundle = reference;
    run.console.reportBrokenPackage(member);
    return false;
  }
  if (count == 0) bundle.outcome = InstallOutcome::NothingInstalled;
  return true;
}

}  // namespace

InstallResult installPackage(InstallRun& run, PackageStream& stream, const Dependency* bundleReference) {
  auto package = std::make_unique<Package>();
  if (!readPackageHeader(*package, stream)) return resultOf(InstallOutcome::Unreadable);
  InstallResult result;
  if (package->hasImage) result.imageDirectory = run.board().entryDirectory(package->name);

  // A member carries its bundle, also into the messages about it.
  const bool member = bundleReference != nullptr;
  if (member) package->bundle = *bundleReference;

  // Not installed: a reason outside the permitted set, or the same version.
  const InstallFlags reasons = judge(run, *package, member);
  if (any(reasons, (~run.permitted | InstallFlags::Reinstall)))
    return notInstalled(run, *package, stream, reasons, member);

  // It replaces the installed package of its name, unless it comes from an
  // unregistered file, which installs beside it.
  if (!stream.isUnregistered()) dropInstalled(run, package->name, true);
  if (!installContents(run, *package, stream)) return resultOf(InstallOutcome::Broken);
  Package* installed = package.get();
  run.repository.packages.push_back(std::move(package));

  // Conflicts and dependencies are settled against the grown repository.
  // That plan may uninstall the new package again (its provider went); it is
  // then destroyed and must not be handed out.
  settleScheduledActions(run);
  if (!isInRepository(run.repository, installed)) return resultOf(InstallOutcome::Withdrawn);
  result.outcome = InstallOutcome::Installed;
  result.package = installed;
  result.bootImage = keptAsBootImage(*installed);
  return result;
}

InstallResult installBundle(InstallRun& run, PackageStream& stream) {
  InstallResult result = resultOf(InstallOutcome::Unreadable);
  result.bundle = true;
  auto bundle = std::make_unique<Package>();
  if (!readPackageHeader(*bundle, stream) || !bundle->isBundle) return result;
  if (stream.partType() == kImagePart) stream.nextPart();
  if (bundle->hasImage) result.imageDirectory = run.board().entryDirectory(bundle->name);

  // Judged and reported as a single package is, conflicts included.
  const Judgement judgement = judgeCandidate(run.repository, *bundle, run.permitted);
  tell(run.console, judgement.notices);
  const InstallFlags reasons = judgement.reasons;
  if (any(reasons, ~run.permitted)) {
    result.outcome = refusedAsNotNewer(reasons, run.permitted) ? InstallOutcome::NotNewer : InstallOutcome::Refused;
    return result;
  }

  // The installed bundle record makes way for the new one.
  dropInstalled(run, bundle->name, true);
  EntryFailure failure;
  if (!saveEntry(*bundle, run.transaction, &failure)) {
    if (!failure.file.empty()) run.console.reportCreateFailure(*bundle, failure.file, failure.error);
    result.outcome = InstallOutcome::Broken;
    return result;
  }

  // The bundle joins the repository. The record may be settled away by the
  // plans while its members are installed, so only its reference is used
  // from here on.
  const Dependency reference = bundleReference(*bundle);
  dropInstalled(run, bundle->name, false);
  run.repository.packages.push_back(std::move(bundle));

  std::set<std::string> oldMembers = membersOf(run.repository, reference.name);
  if (stream.partType() == kBundleMembersPart) addStartDisabledRecords(run, stream);
  result.outcome = InstallOutcome::Installed;
  if (!installMembers(run, stream, reference, oldMembers, result)) {
    result.outcome = InstallOutcome::Broken;
    return result;
  }
  if (result.outcome == InstallOutcome::NothingInstalled) return result;

  // Members this version no longer has are uninstalled by the plan.
  for (const std::string& name : oldMembers) {
    Package* old = run.repository.find(name);
    if (old != nullptr) old->action = PackageAction::Uninstall;
  }
  settleScheduledActions(run);
  run.console.setProgressLine(std::string());
  run.console.reportInfo("installed %s", dependencyTitle(reference).c_str());
  return result;
}

InstallResult installFromStream(InstallRun& run, ByteSource* input, ByteSink* tee) {
  PackageStream stream(input, /*hashing=*/true, tee);
  for (PartType type : kInstallParts) stream.acceptPart(type);
  stream.nextPart();
  if (stream.partType() == kBundleHeaderPart) return installBundle(run, stream);
  return installPackage(run, stream);
}
