#include "engine/providers.h"

#include "engine/relations.h"
#include "model/package.h"
#include "pdb/repository.h"

bool willBeActive(const InstalledPackage& package) {
  return package.scheduledAction == ScheduledAction::Enable ||
         (!package.disabled && package.scheduledAction == ScheduledAction::None);
}

bool isDormant(const InstalledPackage& package) {
  if (package.disabled) return package.scheduledAction != ScheduledAction::Enable;
  return package.scheduledAction == ScheduledAction::Disable;
}

std::vector<InstalledPackage*> collectProviders(const Repository& repository,
                                                const DependencyEntry& entry) {
  std::vector<InstalledPackage*> providers;
  for (const auto& package : repository.packages)
    if (!package->isPlaceholder() && qualifies(*package, entry)) providers.push_back(package.get());
  return providers;
}

InstalledPackage* findBlocker(const Repository& repository, const Package& candidate) {
  for (const auto& package : repository.packages)
    if (!package->disabled && blocks(*package, candidate)) return package.get();
  return nullptr;
}

DependencyOutlook dependencyOutlook(const std::vector<InstalledPackage*>& packages) {
  bool dormant = false;
  for (const InstalledPackage* package : packages) {
    if (willBeActive(*package)) return DependencyOutlook::Available;
    if (isDormant(*package)) dormant = true;
  }
  return dormant ? DependencyOutlook::DisabledOnly : DependencyOutlook::Missing;
}
