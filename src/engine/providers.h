#pragma once

#include <vector>

class InstalledPackage;
class Package;
class Repository;
struct DependencyEntry;

// Whether one of the packages that could answer a requirement will be active.
enum class DependencyOutlook {
  Available = 0,     // one of them will be active
  Missing = 1,       // none will be active and none is dormant
  DisabledOnly = 3,  // none will be active, but one is dormant
};

// Active after the schedule: enabled with no action, or with a pending enable
// (disabled or not: an enabled package asked to be enabled again stays active).
bool willBeActive(const InstalledPackage& package);

// Could be brought back: disabled without a pending enable, or enabled with a
// pending disable.
bool isDormant(const InstalledPackage& package);

// The installed packages, in installed order, that are not placeholders and qualify
// for the entry, whatever their enable state.
std::vector<InstalledPackage*> collectProviders(const Repository& repository,
                                                const DependencyEntry& entry);

// The first installed package that is not disabled and blocks the candidate, or null.
InstalledPackage* findBlocker(const Repository& repository, const Package& candidate);

DependencyOutlook dependencyOutlook(const std::vector<InstalledPackage*>& packages);

// The schedule's pass over requirements that vanish, until nothing changes: a
// package whose requirement no installed package answers any more is uninstalled;
// one whose requirement only dormant packages answer is disabled, unless it is
// disabled already with nothing pending.
void withdrawUnsatisfied(Repository& repository);
