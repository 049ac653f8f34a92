#include "engine/candidate_selection.h"

#include <iterator>

#include "engine/flagged_state.h"
#include "engine/relations.h"
#include "model/package.h"
#include "pdb/repository.h"

namespace {

// Whether P survives the comparison with every other candidate.
bool survives(Repository& repository, const Package& p, const std::vector<const Package*>& others,
              Version floor, bool verbose) {
  const bool downgrade = floor != kNoFloor;
  for (const Package* q : others) {
    if (flaggedState != 0 && q->buildTime > p.buildTime) {
      if (verbose)
        repository.warning("ommiting older package %s: router in flagged state",
                           displayName(p).c_str());
      return false;
    }
    if (!covers(p, q->name) && !covers(*q, p.name)) continue;
    const int c = downgrade ? -compareVersions(*q, p) : compareVersions(*q, p);
    if (c > 0) {
      if (verbose)
        repository.warning(downgrade ? "omitting package %s: older package is already provided"
                                     : "omitting package %s: newer package is already provided",
                           displayName(p).c_str());
      return false;
    }
    // Two related candidates of the same age drop each other, unless exactly one of
    // them is a bundle: the bundle stays.
    if (c == 0 && !(p.isBundle && !q->isBundle)) return false;
  }
  return true;
}

}  // namespace

template <typename Record>
void selectCandidates(Repository& repository, std::vector<Record*>& list, Version floor,
                      bool verbose) {
  // A candidate below the floor is refused and takes no part in the comparisons: it
  // must not knock out a newer related candidate that the floor allows.
  std::vector<bool> allowed;
  for (const Record* candidate : list)
    allowed.push_back(floor == kNoFloor || candidate->version >= floor);

  std::vector<Record*> kept;
  for (size_t i = 0; i < list.size(); ++i) {
    if (!allowed[i]) {
      repository.warning("ommitting package %s: not allowed", displayName(*list[i]).c_str());
      continue;
    }
    std::vector<const Package*> others;
    for (size_t j = 0; j < list.size(); ++j)
      if (j != i && allowed[j]) others.push_back(list[j]);
    if (survives(repository, *list[i], others, floor, verbose)) kept.push_back(list[i]);
  }

  // Each candidate goes right after the last one it needs or that blocks it, so that
  // requirements and blockers come first.
  std::vector<Record*> ordered;
  for (Record* x : kept) {
    auto position = ordered.begin();
    for (auto y = ordered.rbegin(); y != ordered.rend(); ++y)
      if (dependsOn(*x, **y) || blocks(**y, *x)) {
        position = y.base();
        break;
      }
    ordered.insert(position, x);
  }
  list = std::move(ordered);
}

template void selectCandidates<Package>(Repository&, std::vector<Package*>&, Version, bool);
template void selectCandidates<PackageFile>(Repository&, std::vector<PackageFile*>&, Version,
                                            bool);
template void selectCandidates<InstalledPackage>(Repository&, std::vector<InstalledPackage*>&,
                                                 Version, bool);
