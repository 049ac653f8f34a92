#include "engine/schedule.h"

#include <algorithm>
#include <fstream>

#include "changes/change_set.h"
#include "changes/package_removal.h"
#include "engine/candidate_selection.h"
#include "engine/dependency_keeping.h"
#include "engine/providers.h"
#include "engine/relations.h"
#include "model/package.h"
#include "model/safe_names.h"
#include "pdb/repository.h"

namespace {

constexpr uint32_t kStateHint = 8;

// A record that is no package of the database (an exclusion record has no name)
// has no state files to write.
bool hasStateFiles(const InstalledPackage& package) { return isSafePackageName(package.name); }

void writeStateFile(ChangeSet& changes, const std::string& path, const char* word) {
  std::ofstream out;
  changes.createFile(out, path, kStateHint, 0);
  out << word << '\n';
  // A state file cut short by a write error must never go live: the package then
  // keeps the state its live files give it.
  out.close();
  if (!out) changes.erase(path);
}

// A bundle's action reaches its members.
void passBundleActionsToMembers(Repository& repository) {
  for (const auto& member : repository.packages) {
    if (member->bundle.name.empty()) continue;
    const InstalledPackage* bundle = repository.findPackageRecord(member->bundle.name);
    if (bundle == nullptr) continue;
    switch (bundle->scheduledAction) {
      case ScheduledAction::Disable:
        if (member->scheduledAction != ScheduledAction::Uninstall)
          member->scheduledAction = ScheduledAction::Disable;
        break;
      case ScheduledAction::Uninstall:
        member->scheduledAction = ScheduledAction::Uninstall;
        break;
      case ScheduledAction::Enable:
        if (member->disabled) member->scheduledAction = ScheduledAction::Enable;
        break;
      case ScheduledAction::None:
        break;
    }
  }
}

// Of two packages that would be active together, the blocked one is disabled; a
// package being enabled that an active package blocks is disabled in its turn, and
// when both are being enabled the one examined first is refused.
//
// Two packages of which neither has conflicts, provides or members can block neither
// way, and a placeholder blocks nothing; so such a package meets only the others,
// kept aside in array order, and a large set of plain packages is not paired off.
void resolveConflicts(Repository& repository, bool verbose) {
  const auto mayBlock = [](const InstalledPackage& package) {
    return !package.isPlaceholder() && (!package.conflicts.empty() ||
                                        !package.provides.empty() || !package.members.empty());
  };
  std::vector<InstalledPackage*> everyone, blocking;
  for (const auto& package : repository.packages) {
    everyone.push_back(package.get());
    if (mayBlock(*package)) blocking.push_back(package.get());
  }
  for (InstalledPackage* i : everyone) {
    if (!willBeActive(*i)) continue;
    for (InstalledPackage* j : mayBlock(*i) ? everyone : blocking) {
      if (j == i || !willBeActive(*j)) continue;
      if (blocks(*i, *j)) {
        if (j->scheduledAction == ScheduledAction::None)
          j->scheduledAction = ScheduledAction::Disable;
      } else if (i->scheduledAction == ScheduledAction::Enable && blocks(*j, *i)) {
        if (j->scheduledAction == ScheduledAction::None) {
          j->scheduledAction = ScheduledAction::Disable;
        } else if (j->scheduledAction == ScheduledAction::Enable) {
          if (verbose)
            repository.warning("can not enable %s: %s conflicts with it", i->name.c_str(),
                               displayName(*j).c_str());
          i->scheduledAction = ScheduledAction::None;
          break;
        }
      }
    }
  }
}

// A bundle keeps its record while a member will be active. One whose members are
// all dormant is disabled, so that its members keep the bundle that their database
// entries name and can be enabled again; one with no member left goes.
void settleBundles(Repository& repository) {
  for (const auto& bundle : repository.packages) {
    if (!bundle->isBundle || bundle->scheduledAction == ScheduledAction::Uninstall) continue;
    bool active = false;
    bool dormant = false;
    for (const auto& member : repository.packages) {
      if (member->isPlaceholder() || member->bundle.name != bundle->name) continue;
      if (willBeActive(*member)) {
        active = true;
        break;
      }
      // A member on its way out (an uninstall pending) does not hold the bundle.
      const ScheduledAction action = member->scheduledAction;
      if (action == ScheduledAction::Disable ||
          (member->disabled && action == ScheduledAction::None))
        dormant = true;
    }
    if (active) continue;
    if (!dormant)
      bundle->scheduledAction = ScheduledAction::Uninstall;
    else if (!bundle->disabled)
      bundle->scheduledAction = ScheduledAction::Disable;
    else if (bundle->scheduledAction == ScheduledAction::Enable)
      bundle->scheduledAction = ScheduledAction::None;
  }
}

void disablePackage(Repository& repository, ChangeSet& changes, InstalledPackage& package,
                    bool verbose) {
  const std::string name = displayName(package);
  if (verbose) repository.setStatus("disabling " + name + "...");
  if (hasStateFiles(package)) {
    const std::string directory = databaseDir(package);
    changes.remove(directory + "enabled");
    writeStateFile(changes, directory + "disabled", package.userChosen ? "user" : "auto");
  }
  package.disabled = true;
  package.scheduledAction = ScheduledAction::None;
  if (verbose) repository.info("disabled %s", name.c_str());
}

void uninstallPackage(Repository& repository, ChangeSet& changes, InstalledPackage* package) {
  removePackageFiles(*package, changes);
  repository.removePackage(package);
}

}  // namespace

void applySchedule(Repository& repository, ChangeSet& changes, bool verbose) {
  passBundleActionsToMembers(repository);

  for (const auto& package : repository.packages)
    if (willBeActive(*package)) keepDependenciesActive(repository, *package, verbose);

  resolveConflicts(repository, verbose);
  withdrawUnsatisfied(repository);
  settleBundles(repository);

  const bool anyActive = std::any_of(repository.packages.begin(), repository.packages.end(),
                                     [](const auto& package) { return willBeActive(*package); });
  if (!repository.packages.empty() && !anyActive) {
    for (const auto& package : repository.packages)
      package->scheduledAction = ScheduledAction::None;
    if (verbose) repository.error("can not uninstall or disable all packages");
    return;
  }

  std::vector<InstalledPackage*> removals;
  std::vector<InstalledPackage*> enables;
  for (const auto& package : repository.packages) {
    const ScheduledAction action = package->scheduledAction;
    if (action == ScheduledAction::Uninstall || action == ScheduledAction::Disable)
      removals.push_back(package.get());
    else if (action == ScheduledAction::Enable)
      enables.push_back(package.get());
  }
  // Required and blocking packages are enabled first; in flagged state only those
  // of the latest build time are (the others keep their pending enable).
  selectCandidates(repository, enables, kNoFloor, false);

  for (auto package = removals.rbegin(); package != removals.rend(); ++package) {
    if ((*package)->scheduledAction == ScheduledAction::Uninstall)
      uninstallPackage(repository, changes, *package);
    else
      disablePackage(repository, changes, **package, verbose);
  }
  enablePackages(repository, changes, enables, verbose);
}

void enablePackages(Repository& repository, ChangeSet& changes,
                    const std::vector<InstalledPackage*>& list, bool verbose) {
  for (InstalledPackage* package : list) {
    const std::string name = displayName(*package);
    if (verbose) repository.setStatus("enabling " + name + "...");
    if (hasStateFiles(*package)) {
      const std::string directory = databaseDir(*package);
      changes.remove(directory + "disabled");
      if (package->userChosen)
        writeStateFile(changes, directory + "enabled", "user");
      else
        changes.remove(directory + "enabled");
    }
    package->disabled = false;
    package->scheduledAction = ScheduledAction::None;
    if (verbose) repository.info("enabled %s", name.c_str());
  }
}
