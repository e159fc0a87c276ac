// Judging one candidate against the installed packages: what installing it
// would mean (upgrade, downgrade, reinstall) and every reason against it, with
// at most one notice.
#pragma once

#include "model/install_flags.h"
#include "model/package.h"
#include "model/repository.h"
#include "planning/notice.h"

// The reasons that stand in the way of (or describe) installing `candidate`,
// every one of them, and the notice of the first reason not within
// `permitted`, if any.
struct Judgement {
  InstallFlags reasons = InstallFlags::None;
  Notices notices;
};
Judgement judgeCandidate(Repository& repository, const Package& candidate, InstallFlags permitted);

// Whether judging refused a candidate because it is not newer than the
// installed package of its name: the same version without resume mode, or an
// older one without permission to downgrade, whatever else stands against it.
// Such a candidate leaves the system with nothing to do.
inline bool refusedAsNotNewer(InstallFlags reasons, InstallFlags permitted) {
  return (any(reasons, InstallFlags::Reinstall) && !any(permitted, InstallFlags::Reinstall)) ||
         (any(reasons, InstallFlags::Downgrade) && !any(permitted, InstallFlags::Downgrade));
}

// False when a system package must not be installed on this board: it is
// older than the board's minimum (unless a package named "option" is
// installed), or too old for flash with large erase blocks; `why` then says
// which.
bool checkSystemRequirements(Repository& repository, const PackageInfo& candidate, Notice* why);
