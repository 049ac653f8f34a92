#include "driver/cleanup.h"

#include "changes/apply.h"
#include "changes/change_set.h"
#include "driver/run_modes.h"
#include "engine/schedule.h"
#include "pdb/repository.h"

namespace {

// The last version of the previous system generation: 3.22 final.
constexpr Version kGenerationThreshold = 0x031665FF;

bool isProtected(const InstalledPackage& package) {
  return package.name == "tolvo" || package.name == "disk-drivers" || package.name == "system" ||
         package.isBundle;
}

bool builtForThisGeneration(const InstalledPackage& package) {
  for (const DependencyEntry& entry : package.dependencies)
    if (entry.name == "system" && entry.minVersion > kGenerationThreshold) return true;
  return false;
}

}  // namespace

void markForCleanup(Repository& repository, ChangeSet& changes) {
  applySchedule(repository, changes, false);
  for (const auto& package : repository.packages)
    if (!isProtected(*package) && !builtForThisGeneration(*package))
      package->scheduledAction = ScheduledAction::Uninstall;
  applySchedule(repository, changes, true);
}

int runCleanup(Repository& repository) {
  ChangeSet changes;
  markForCleanup(repository, changes);
  apply(changes, false);
  return 0;
}
