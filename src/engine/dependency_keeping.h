#pragma once

class InstalledPackage;
class Repository;

// Keeps what an active package needs: its bundle, and for each dependency that no
// active package would answer, the best of its providers (the last after
// selectCandidates). Changes only scheduledAction of other packages. A dependency
// without any provider stops the examination of the package.
void keepDependenciesActive(Repository& repository, InstalledPackage& package, bool verbose);

// Moves target towards active for dependent: a pending uninstall or disable is
// cancelled (with the warning "can not %s %s: %s depends on it" when verbose), a
// disabled target is scheduled to be enabled; then the target's own dependencies
// are kept.
void keepActive(Repository& repository, InstalledPackage& target,
                const InstalledPackage& dependent, bool verbose);
