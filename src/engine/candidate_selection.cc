#include "engine/candidate_selection.h"

#include <algorithm>
#include <iterator>
#include <string_view>
#include <unordered_map>

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

  // Outside flagged state only a related candidate (one of the two covers the other's
  // name) can drop P, so P meets only those, found by name, in input order: meeting
  // every other candidate would make a long list quadratic in string comparisons.
  // In flagged state any candidate built later drops P, so P meets them all.
  std::unordered_map<std::string_view, std::vector<size_t>> byName, byCoveredName;
  if (flaggedState == 0)
    for (size_t j = 0; j < list.size(); ++j) {
      if (!allowed[j]) continue;
      byName[list[j]->name].push_back(j);
      byCoveredName[list[j]->name].push_back(j);
      for (const auto& member : list[j]->members) byCoveredName[member->name].push_back(j);
    }
  const auto othersOf = [&](size_t i) {
    std::vector<size_t> indices;
    const auto add = [&](const auto& index, const std::string& name) {
      if (const auto found = index.find(name); found != index.end())
        indices.insert(indices.end(), found->second.begin(), found->second.end());
    };
    if (flaggedState == 0) {
      add(byName, list[i]->name);
      for (const auto& member : list[i]->members) add(byName, member->name);
      add(byCoveredName, list[i]->name);
      std::sort(indices.begin(), indices.end());
      indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
    } else {
      for (size_t j = 0; j < list.size(); ++j)
        if (allowed[j]) indices.push_back(j);
    }
    std::vector<const Package*> others;
    for (const size_t j : indices)
      if (j != i) others.push_back(list[j]);
    return others;
  };

  std::vector<Record*> kept;
  for (size_t i = 0; i < list.size(); ++i) {
    if (!allowed[i]) {
      repository.warning("ommitting package %s: not allowed", displayName(*list[i]).c_str());
      continue;
    }
    if (survives(repository, *list[i], othersOf(i), floor, verbose)) kept.push_back(list[i]);
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
