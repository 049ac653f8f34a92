#include "engine/dependency_keeping.h"

#include "engine/candidate_selection.h"
#include "engine/providers.h"
#include "model/package.h"
#include "pdb/repository.h"

void keepDependenciesActive(Repository& repository, InstalledPackage& package, bool verbose) {
  if (!package.bundle.name.empty())
    if (InstalledPackage* bundle = repository.findPackageRecord(package.bundle.name))
      keepActive(repository, *bundle, package, verbose);

  for (const DependencyEntry& entry : package.dependencies) {
    std::vector<InstalledPackage*> providers = collectProviders(repository, entry);
    if (dependencyOutlook(providers) == DependencyOutlook::Available) continue;
    // Nothing can answer this one; the schedule's own pass over vanished
    // requirements deals with the package.
    if (providers.empty()) return;
    selectCandidates(repository, providers, kNoFloor, false);
    if (!providers.empty()) keepActive(repository, *providers.back(), package, verbose);
  }
}

void keepActive(Repository& repository, InstalledPackage& target,
                const InstalledPackage& dependent, bool verbose) {
  if (target.scheduledAction == ScheduledAction::Uninstall ||
      target.scheduledAction == ScheduledAction::Disable) {
    if (verbose)
      repository.warning("can not %s %s: %s depends on it", actionWord(target.scheduledAction),
                         displayName(target).c_str(), dependent.name.c_str());
    target.scheduledAction = ScheduledAction::None;
    keepDependenciesActive(repository, target, verbose);
  } else if (target.disabled) {
    target.scheduledAction = ScheduledAction::Enable;
    keepDependenciesActive(repository, target, verbose);
  }
}
