// Judging candidates against the installed packages.
#include "planning/candidate_judgement.h"

#include <string>

#include "model/console.h"
#include "model/relations.h"
#include "planning/action_planning.h"
#include "platform/flash_devices.h"

namespace {

// The oldest system that supports flash with large erase blocks: 3.20rc2.
constexpr Version kLargeEraseMinimum = makeVersion(3, 20, 'c', 2);

bool isSystemPackage(const std::string& name) { return name == "system" || name.compare(0, 6, "veltra") == 0; }

// The candidate against the installed package of its name.
InstallFlags compareWithInstalled(Repository& repository, const Package& candidate, InstallFlags permitted,
                                  bool* reported) {
  const Package* old = repository.find(candidate.name);
  if (old == nullptr) return InstallFlags::None;
  const int order = compareVersions(candidate, *old);
  if (order < 0) {
    if (!any(permitted, InstallFlags::Downgrade)) {
      reportWarning(repository, "omitting package %s: newer package %s is already installed",
                    packageTitle(candidate).c_str(), packageTitle(*old).c_str());
      *reported = true;
    }
    return InstallFlags::Downgrade;
  }
  if (order == 0) {
    if (!any(permitted, InstallFlags::Reinstall)) {
      reportWarning(repository, "omitting package %s: it is already installed", packageTitle(candidate).c_str());
      *reported = true;
    }
    return InstallFlags::Reinstall;
  }
  return InstallFlags::Upgrade;
}

}  // namespace

InstallFlags judgeCandidate(Repository& repository, const Package& candidate, InstallFlags permitted) {
  bool reported = false;
  const bool mayReportUnmet = !any(permitted, InstallFlags::Unmet);

  InstallFlags reasons = compareWithInstalled(repository, candidate, permitted, &reported);

  // System requirements.
  if (isSystemPackage(candidate.name)) {
    const bool report = !reported && mayReportUnmet;
    if (!checkSystemRequirements(repository, candidate, report)) {
      reasons |= InstallFlags::Unmet;
      if (report) reported = true;
    }
  }

  // Architecture; an empty one fits every system.
  if (!candidate.architecture.empty() && candidate.architecture != repository.architecture) {
    if (!reported && mayReportUnmet) {
      reportError(repository, "can not install %s: it is not made for %s, but for %s",
                  packageTitle(candidate).c_str(), repository.architecture.c_str(), candidate.architecture.c_str());
      reported = true;
    }
    reasons |= InstallFlags::Unmet;
  }

  // The first dependency that no enabled package meets.
  for (const Dependency& dependency : candidate.depends) {
    if (!findProviders(repository, dependency, false).empty()) continue;
    if (!reported && mayReportUnmet) {
      reportError(repository, "can not install %s: %s is not installed, but is required",
                  packageTitle(candidate).c_str(), dependencyTitle(dependency).c_str());
      reported = true;
    }
    reasons |= InstallFlags::Unmet;
    break;
  }

  // An enabled package that conflicts with the candidate.
  if (const Package* conflicting = repository.findConflicting(candidate)) {
    if (!reported && !any(permitted, InstallFlags::Conflict)) {
      reportError(repository, "can not install %s: it conflicts with %s", packageTitle(candidate).c_str(),
                  packageTitle(*conflicting).c_str());
    }
    reasons |= InstallFlags::Conflict;
  }

  return reasons;
}

bool checkSystemRequirements(Repository& repository, const PackageInfo& candidate, bool report) {
  // The board's minimum system version; 0 when the device does not say.
  const Version minimum = flashDevices().flashMinimumVersion();

  // Too old for this board, unless the "option" package is installed.
  if (candidate.version < minimum && repository.indexOf("option") == -1) {
    if (report) {
      const std::string title = packageTitle(candidate);
      const std::string minimumText = versionText(minimum);
      reportError(repository, "omitting package %s: min Veltra version is %s", title.c_str(), minimumText.c_str());
    }
    return false;
  }

  // Too old for the file-system layout of large erase blocks.
  if (candidate.version < kLargeEraseMinimum && hasLargeEraseBlocks()) {
    if (report) {
      reportWarning(repository, "omitting package %s: it does not support current file system",
                    packageTitle(candidate).c_str());
    }
    return false;
  }

  return true;
}
