#pragma once

#include <vector>

#include "model/version.h"

class Repository;

// No version floor: the newest of related candidates wins.
constexpr Version kNoFloor = 0xFFFFFFFF;

// Filters and orders candidate packages in place, in two phases.
// Filtering: with no floor the newest of related candidates (those that cover each
// other's names) wins; with a floor the oldest wins, and a candidate below the
// floor is refused with "ommitting package %s: not allowed" (always printed) and
// takes no part in the other comparisons. Two related candidates of equal version
// and build time drop each other unless exactly one is a bundle, which stays. In
// flagged state only the candidates with the latest build time survive. The other
// warnings are printed when verbose.
// Ordering: each kept candidate goes right after the last one it depends on or that
// blocks it, or to the front.
// Record is Package, PackageFile or InstalledPackage.
template <typename Record>
void selectCandidates(Repository& repository, std::vector<Record*>& list, Version floor,
                      bool verbose);
