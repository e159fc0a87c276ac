// Judging candidates against the installed packages.
#include "planning/candidate_judgement.h"

#include <string>

#include "model/relations.h"
#include "planning/action_planning.h"
#include "platform/flash_devices.h"

namespace {

// The oldest system that supports flash with large erase blocks: 3.20rc2.
constexpr Version kLargeEraseMinimum = makeVersion(3, 20, 'c', 2);

bool isSystemPackage(const std::string& name) { return name == "system" || name.compare(0, 6, "veltra") == 0; }

// The candidate against the installed package of its name.
InstallFlags compareWithInstalled(Repository& repository, const Package& candidate, InstallFlags permitted,
                                  Notices* notices) {
  const Package* old = repository.find(candidate.name);
  if (old == nullptr) return InstallFlags::None;
  const int order = compareVersions(candidate, *old);
  if (order < 0) {
    if (!any(permitted, InstallFlags::Downgrade)) {
      notices->push_back(noticeOf(false, "omitting package %s: newer package %s is already installed",
                                  packageTitle(candidate).c_str(), packageTitle(*old).c_str()));
    }
    return InstallFlags::Downgrade;
  }
  if (order == 0) {
    if (!any(permitted, InstallFlags::Reinstall)) {
      notices->push_back(noticeOf(false, "omitting package %s: it is already installed", packageTitle(candidate).c_str()));
    }
    return InstallFlags::Reinstall;
  }
  return InstallFlags::Upgrade;
}

}  // namespace

Judgement judgeCandidate(Repository& repository, const Package& candidate, InstallFlags permitted) {
  Judgement judgement;
  Notices& notices = judgement.notices;
  const bool mayTellUnmet = !any(permitted, InstallFlags::Unmet);
  InstallFlags& reasons = judgement.reasons;
  reasons = compareWithInstalled(repository, candidate, permitted, &notices);

  // System requirements.
  Notice why;
  if (isSystemPackage(candidate.name) && !checkSystemRequirements(repository, candidate, &why)) {
    if (notices.empty() && mayTellUnmet) notices.push_back(why);
    reasons |= InstallFlags::Unmet;
  }

  // Architecture; an empty one fits every system.
  if (!candidate.architecture.empty() && candidate.architecture != repository.architecture) {
    if (notices.empty() && mayTellUnmet) {
      notices.push_back(noticeOf(true, "can not install %s: it is not made for %s, but for %s",
                                 packageTitle(candidate).c_str(), repository.architecture.c_str(),
                                 candidate.architecture.c_str()));
    }
    reasons |= InstallFlags::Unmet;
  }

  // The first dependency that no enabled package meets.
  for (const Dependency& dependency : candidate.depends) {
    if (!findProviders(repository, dependency, false).empty()) continue;
    if (notices.empty() && mayTellUnmet) {
      notices.push_back(noticeOf(true, "can not install %s: %s is not installed, but is required",
                                 packageTitle(candidate).c_str(), dependencyTitle(dependency).c_str()));
    }
    reasons |= InstallFlags::Unmet;
    break;
  }

  // An enabled package that conflicts with the candidate.
  if (const Package* conflicting = repository.findConflicting(candidate)) {
    if (notices.empty() && !any(permitted, InstallFlags::Conflict)) {
      notices.push_back(noticeOf(true, "can not install %s: it conflicts with %s", packageTitle(candidate).c_str(),
                                 packageTitle(*conflicting).c_str()));
    }
    reasons |= InstallFlags::Conflict;
  }

  return judgement;
}

bool checkSystemRequirements(Repository& repository, const PackageInfo& candidate, Notice* why) {
  // The board's minimum system version; 0 when the device does not say.
  const Version minimum = flashDevices().flashMinimumVersion();

  // Too old for this board, unless the "option" package is installed.
  if (candidate.version < minimum && repository.indexOf("option") == -1) {
    *why = noticeOf(true, "omitting package %s: min Veltra version is %s", packageTitle(candidate).c_str(),
                    versionText(minimum).c_str());
    return false;
  }

  // Too old for the file-system layout of large erase blocks.
  if (candidate.version < kLargeEraseMinimum && hasLargeEraseBlocks()) {
    *why = noticeOf(false, "omitting package %s: it does not support current file system",
                    packageTitle(candidate).c_str());
    return false;
  }

  return true;
}
