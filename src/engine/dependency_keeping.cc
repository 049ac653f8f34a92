#include "engine/dependency_keeping.h"

#include <algorithm>
#include <vector>

#include "engine/candidate_selection.h"
#include "engine/providers.h"
#include "model/package.h"
#include "pdb/repository.h"

namespace {

// The packages whose dependencies are being kept, outermost first. A dependency
// reaches a target only while no active package answers it, and a kept target is
// active, so dependencies alone always end; bundle names do not ask that question
// and may lead from a disabled record back to itself. Such a target is left to the
// keeping already under way.
using KeepingStack = std::vector<const InstalledPackage*>;

void keepTarget(Repository& repository, InstalledPackage& target,
                const InstalledPackage& dependent, bool verbose, KeepingStack& keeping);

void keepDependencies(Repository& repository, InstalledPackage& package, bool verbose,
                      KeepingStack& keeping) {
  keeping.push_back(&package);
  if (!package.bundle.name.empty())
    if (InstalledPackage* bundle = repository.findPackageRecord(package.bundle.name))
      keepTarget(repository, *bundle, package, verbose, keeping);

  for (const DependencyEntry& entry : package.dependencies) {
    std::vector<InstalledPackage*> providers = collectProviders(repository, entry);
    if (dependencyOutlook(providers) == DependencyOutlook::Available) continue;
    // Nothing can answer this one; the schedule's own pass over vanished
    // requirements deals with the package.
    if (providers.empty()) break;
    selectCandidates(repository, providers, kNoFloor, false);
    if (!providers.empty()) keepTarget(repository, *providers.back(), package, verbose, keeping);
  }
  keeping.pop_back();
}

void keepTarget(Repository& repository, InstalledPackage& target,
                const InstalledPackage& dependent, bool verbose, KeepingStack& keeping) {
  if (target.scheduledAction == ScheduledAction::Uninstall ||
      target.scheduledAction == ScheduledAction::Disable) {
    if (verbose)
      repository.warning("can not %s %s: %s depends on it", actionWord(target.scheduledAction),
                         displayName(target).c_str(), dependent.name.c_str());
    target.scheduledAction = ScheduledAction::None;
  } else if (target.disabled) {
    target.scheduledAction = ScheduledAction::Enable;
  } else {
    return;
  }
  if (std::find(keeping.begin(), keeping.end(), &target) == keeping.end())
    keepDependencies(repository, target, verbose, keeping);
}

}  // namespace

void keepDependenciesActive(Repository& repository, InstalledPackage& package, bool verbose) {
  KeepingStack keeping;
  keepDependencies(repository, package, verbose, keeping);
}

void keepActive(Repository& repository, InstalledPackage& target,
                const InstalledPackage& dependent, bool verbose) {
  KeepingStack keeping;
  keepTarget(repository, target, dependent, verbose, keeping);
}
