#include "engine/decision_rules.h"

#include <string>

#include "engine/flagged_state.h"
#include "engine/providers.h"
#include "engine/relations.h"
#include "model/package.h"
#include "pdb/repository.h"
#include "platform/support_library.h"

namespace {

// Bit 0x08 has no name among the accepted kinds; only the all-bits mask holds it.
constexpr InstallFlags kAcceptNotInstallable = NotInstallable;

bool startsWith(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

}  // namespace

InstallOutcome evaluateInstall(Repository& repository, const Package& candidate,
                               InstallFlags accepted) {
  InstallOutcome outcome = 0;
  bool reported = false;
  // Each rule explains itself only while nothing has been said yet and the caller
  // does not expect its outcome: one message per decision.
  auto mayReport = [&](InstallFlags bit) { return !reported && (accepted & bit) == 0; };
  const std::string name = displayName(candidate);

  const InstalledPackage* installed = repository.findPackageRecord(candidate.name);
  if (installed != nullptr && candidate.name != "branding") {
    if (flaggedState != 0 && installed->buildTime > candidate.buildTime) {
      repository.warning("cannot install older %s: router in flagged state", name.c_str());
      outcome = NotInstallable | Conflict;
      reported = true;
    }
    const int age = compareVersions(candidate, *installed);
    if (age < 0) {
      if (mayReport(AllowDowngrade)) {
        repository.warning("omitting package %s: newer package %s is already installed",
                           name.c_str(), displayName(*installed).c_str());
        reported = true;
      }
      outcome |= Downgrade;
    } else if (age == 0) {
      if (mayReport(AllowReinstall)) {
        repository.warning("omitting package %s: it is already installed", name.c_str());
        reported = true;
      }
      outcome |= SameVersion;
    } else {
      outcome |= Upgrade;
    }
  }

  if (candidate.name == "system" || startsWith(candidate.name, "halvane")) {
    const Version minimum = getMinHalvaneVersion();
    if (candidate.version < minimum) {
      if (mayReport(kAcceptNotInstallable)) {
        repository.error("omitting package %s: min Halvane version is %s", name.c_str(),
                         version2string(minimum).c_str());
        reported = true;
      }
      outcome |= NotInstallable;
    }
  }

  if (!candidate.architecture.empty() && candidate.architecture != repository.arch) {
    if (mayReport(kAcceptNotInstallable)) {
      repository.error("can not install %s: it is not made for %s, but for %s", name.c_str(),
                       repository.arch.c_str(), candidate.architecture.c_str());
      reported = true;
    }
    outcome |= NotInstallable;
  }

  for (const DependencyEntry& entry : candidate.dependencies) {
    if (!collectProviders(repository, entry).empty()) continue;
    if (mayReport(kAcceptNotInstallable)) {
      repository.error("can not install %s: %s is not installed, but is required", name.c_str(),
                       bundleRefName(entry).c_str());
      reported = true;
    }
    outcome |= NotInstallable;
    break;
  }

  if (const InstalledPackage* blocker = findBlocker(repository, candidate)) {
    if (mayReport(AllowConflict)) {
      repository.error("can not install %s: it conflicts with %s", name.c_str(),
                       displayName(*blocker).c_str());
      reported = true;
    }
    outcome |= Conflict;
  }
  return outcome;
}
