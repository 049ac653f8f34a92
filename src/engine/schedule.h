#pragma once

#include <vector>

class ChangeSet;
class InstalledPackage;
class Repository;

// Carries out the pending actions of the whole installed set (uninstall, enable,
// disable) consistently: bundle actions reach their members, what active packages
// need is kept, conflicts between packages that would be active together are
// resolved, packages whose requirements vanish are withdrawn, bundles left without
// an active member are disabled or uninstalled, and switching everything off is
// refused. The file changes go into changes; uninstalled records leave packages.
// verbose turns on the status and information lines and the warnings.
void applySchedule(Repository& repository, ChangeSet& changes, bool verbose);

// Enables the packages in list order: state files through changes, disabled false,
// action none, "enabled %s" when verbose.
void enablePackages(Repository& repository, ChangeSet& changes,
                    const std::vector<InstalledPackage*>& list, bool verbose);
