// The schedule's pass over requirements that vanish looks again only at the
// packages that a change can concern. It must end exactly where the rule as written
// ends: scan the installed set, and after every change start again from the first
// package. Both run here on the same seeded random installed sets, and every
// package's action must come out the same. Candidate selection, which meets only
// related candidates outside flagged state, is held against every pair the same way.

#include <gtest/gtest.h>

#include <iostream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/candidate_selection.h"
#include "engine/dependency_keeping.h"
#include "engine/flagged_state.h"
#include "engine/providers.h"
#include "engine/relations.h"
#include "model/package.h"
#include "pdb/repository.h"

namespace {

constexpr ScheduledAction kNone = ScheduledAction::None;
constexpr ScheduledAction kUninstall = ScheduledAction::Uninstall;
constexpr ScheduledAction kEnable = ScheduledAction::Enable;
constexpr ScheduledAction kDisable = ScheduledAction::Disable;

std::string named(const char* prefix, unsigned n) {
  std::string name = prefix;
  name += std::to_string(n);
  return name;
}

// The installed packages that qualify for the entry, as the rule names them.
std::vector<InstalledPackage*> providersByScan(const Repository& repository,
                                               const DependencyEntry& entry) {
  std::vector<InstalledPackage*> providers;
  for (const auto& package : repository.packages)
    if (!package->isPlaceholder() && qualifies(*package, entry)) providers.push_back(package.get());
  return providers;
}

// The rule as written: the first requirement that changes a package's action
// sends the scan back to the first package.
void withdrawByRescan(Repository& repository) {
  for (bool changed = true; changed;) {
    changed = false;
    for (const auto& package : repository.packages) {
      for (const DependencyEntry& entry : package->dependencies) {
        const DependencyOutlook outlook = dependencyOutlook(providersByScan(repository, entry));
        const ScheduledAction action = package->scheduledAction;
        if (outlook == DependencyOutlook::Missing && action != kUninstall) {
          package->scheduledAction = kUninstall;
          changed = true;
        } else if (outlook == DependencyOutlook::DisabledOnly && action != kUninstall &&
                   action != kDisable && !(package->disabled && action == kNone)) {
          package->scheduledAction = kDisable;
          changed = true;
        }
        if (changed) break;
      }
      if (changed) break;
    }
  }
}

// A random installed set of 5 to 40 packages. Requirements name installed packages,
// provided names and names nobody answers, with version ranges on both sides; a few
// packages share a name, and a few are placeholders. The same seed gives the same set.
void fillRandomSet(Repository& repository, unsigned seed) {
  std::mt19937 random(seed);
  const auto below = [&](unsigned n) { return static_cast<unsigned>(random() % n); };
  const unsigned count = 5 + below(36);
  const auto someName = [&]() -> std::string {
    switch (below(4)) {
      case 0:
        return named("api", below(4));
      case 1:
        return named("gone", below(2));
      default:
        return named("p", below(count));
    }
  };
  const auto someVersion = [&]() -> Version { return below(3) == 0 ? 0 : 1 + below(3); };
  constexpr ScheduledAction kActions[] = {kNone, kNone, kNone, kUninstall, kEnable, kDisable};

  for (unsigned i = 0; i < count; ++i) {
    auto package = std::make_unique<InstalledPackage>(
        named("p", below(12) == 0 ? below(count) : i));
    package->version = 1 + below(3);
    if (below(20) == 0) package->version = package->buildTime = 0xFFFFFFFF;
    package->disabled = below(3) == 0;
    package->scheduledAction = kActions[below(6)];
    for (unsigned n = below(4); n > 0; --n)
      package->dependencies.push_back({someName(), someVersion(), someVersion(), 0});
    for (unsigned n = below(3); n > 0; --n)
      package->provides.push_back({someName(), someVersion(), someVersion(),
                                   static_cast<int32_t>(below(3)) - 1});
    repository.packages.push_back(std::move(package));
  }
}

std::vector<ScheduledAction> actions(const Repository& repository) {
  std::vector<ScheduledAction> result;
  for (const auto& package : repository.packages) result.push_back(package->scheduledAction);
  return result;
}

std::string describe(const Repository& repository) {
  std::string text;
  for (const auto& package : repository.packages) {
    text += package->name + (package->disabled ? " disabled" : "") + " action " +
            actionWord(package->scheduledAction) + " needs";
    for (const DependencyEntry& entry : package->dependencies)
      text += " " + entry.name + "[" + std::to_string(entry.minVersion) + "," +
              std::to_string(entry.maxVersion) + "]";
    text += " provides";
    for (const DependencyEntry& entry : package->provides) text += " " + entry.name;
    text += "\n";
  }
  return text;
}

TEST(ScheduleScale, WithdrawingEndsWhereTheRescanEnds) {
  constexpr unsigned kSets = 500;
  unsigned cascades = 0;
  for (unsigned seed = 0; seed < kSets; ++seed) {
    Repository fast;
    Repository literal;
    fillRandomSet(fast, seed);
    fillRandomSet(literal, seed);
    const std::vector<ScheduledAction> before = actions(literal);
    withdrawUnsatisfied(fast);
    withdrawByRescan(literal);
    ASSERT_EQ(actions(fast), actions(literal)) << "seed " << seed << "\n" << describe(literal);

    unsigned changes = 0;
    for (size_t i = 0; i < before.size(); ++i) changes += before[i] != actions(literal)[i];
    if (changes >= 2) ++cascades;
  }
  // The sets must exercise the pass: most of them change two actions or more.
  EXPECT_GT(cascades, kSets / 2);
}

// collectProviders passes over the packages that neither have nor provide the
// entry's name; it must still find what the scan of every package finds.
TEST(ScheduleScale, ProvidersAreThoseOfTheScan) {
  for (unsigned seed = 0; seed < 200; ++seed) {
    Repository repository;
    fillRandomSet(repository, seed);
    for (const auto& package : repository.packages)
      for (const DependencyEntry& entry : package->dependencies)
        ASSERT_EQ(collectProviders(repository, entry), providersByScan(repository, entry))
            << "seed " << seed << " entry " << entry.name;
  }
}

// Keeping dependencies active walks a chain of disabled packages one call deeper per
// link: a long chain must neither overflow the stack nor stop short.
TEST(ScheduleScale, KeepingALongDisabledChainEnablesEveryLink) {
  constexpr unsigned kLinks = 5000;
  Repository repository;
  repository.quiet = true;
  for (unsigned i = 0; i < kLinks; ++i) {
    auto package = std::make_unique<InstalledPackage>(named("n", i));
    package->version = 1;
    package->disabled = i != 0;
    if (i + 1 < kLinks) package->dependencies.push_back({named("n", i + 1), 0, 0, 0});
    repository.packages.push_back(std::move(package));
  }
  keepDependenciesActive(repository, *repository.packages[0], false);
  for (unsigned i = 1; i < kLinks; ++i)
    ASSERT_EQ(repository.packages[i]->scheduledAction, kEnable) << i;
}

// Candidate selection as written: each candidate meets every other one.
std::vector<Package*> selectByEveryPair(Repository& repository, const std::vector<Package*>& list,
                                        Version floor) {
  const bool downgrade = floor != kNoFloor;
  std::vector<Package*> kept;
  for (Package* p : list) {
    if (downgrade && p->version < floor) {
      repository.warning("ommitting package %s: not allowed", displayName(*p).c_str());
      continue;
    }
    bool survives = true;
    for (const Package* q : list) {
      if (q == p || (downgrade && q->version < floor)) continue;
      if (flaggedState != 0 && q->buildTime > p->buildTime) {
        repository.warning("ommiting older package %s: router in flagged state",
                           displayName(*p).c_str());
        survives = false;
        break;
      }
      if (!covers(*p, q->name) && !covers(*q, p->name)) continue;
      const int c = downgrade ? -compareVersions(*q, *p) : compareVersions(*q, *p);
      if (c > 0) {
        repository.warning(downgrade ? "omitting package %s: older package is already provided"
                                     : "omitting package %s: newer package is already provided",
                           displayName(*p).c_str());
        survives = false;
        break;
      }
      if (c == 0 && !(p->isBundle && !q->isBundle)) {
        survives = false;
        break;
      }
    }
    if (survives) kept.push_back(p);
  }
  std::vector<Package*> ordered;
  for (Package* x : kept) {
    auto position = ordered.begin();
    for (auto y = ordered.rbegin(); y != ordered.rend(); ++y)
      if (dependsOn(*x, **y) || blocks(**y, *x)) {
        position = y.base();
        break;
      }
    ordered.insert(position, x);
  }
  return ordered;
}

// 2 to 30 candidates with few names, so that many are related: plain packages,
// bundles whose members carry those names too, versions and build times from a
// small range so that ties happen, and requirements, provides and conflicts.
std::vector<std::unique_ptr<Package>> randomCandidates(unsigned seed) {
  std::mt19937 random(seed);
  const auto below = [&](unsigned n) { return static_cast<unsigned>(random() % n); };
  const auto entry = [&]() -> DependencyEntry {
    return {named(below(3) == 0 ? "api" : "a", below(8)), 0, 0, static_cast<int32_t>(below(3)) - 1};
  };
  const auto fill = [&](Package& package) {
    package.version = 1 + below(3);
    package.buildTime = 1 + below(3);
    for (unsigned n = below(3); n > 0; --n) package.dependencies.push_back(entry());
    if (below(3) == 0) package.provides.push_back(entry());
    if (below(4) == 0) package.conflicts.push_back(entry());
  };
  std::vector<std::unique_ptr<Package>> candidates;
  for (unsigned count = 2 + below(29); count > 0; --count) {
    auto package = std::make_unique<Package>(named("a", below(8)));
    fill(*package);
    if (below(5) == 0) {
      package->isBundle = true;
      for (unsigned n = 1 + below(3); n > 0; --n) {
        auto member = std::make_shared<Package>(named("a", below(8)));
        fill(*member);
        package->members.push_back(std::move(member));
      }
    }
    candidates.push_back(std::move(package));
  }
  return candidates;
}

TEST(ScheduleScale, SelectionKeepsWhatEveryPairKeeps) {
  const uint8_t savedFlaggedState = flaggedState;
  std::ostringstream console;
  std::streambuf* const savedConsole = std::cout.rdbuf(console.rdbuf());
  unsigned dropped = 0;
  for (unsigned seed = 0; seed < 400; ++seed) {
    flaggedState = seed % 4 == 3;
    const Version floor = seed % 3 == 2 ? 2 : kNoFloor;
    const std::vector<std::unique_ptr<Package>> candidates = randomCandidates(seed);
    std::vector<Package*> list;
    for (const auto& candidate : candidates) list.push_back(candidate.get());

    Repository fast;
    Repository literal;
    std::vector<Package*> selected = list;
    selectCandidates(fast, selected, floor, true);
    const std::vector<Package*> expected = selectByEveryPair(literal, list, floor);
    EXPECT_EQ(selected, expected) << "seed " << seed;
    EXPECT_EQ(fast.messageLog, literal.messageLog) << "seed " << seed;
    if (expected.size() + 1 < list.size()) ++dropped;
  }
  std::cout.rdbuf(savedConsole);
  flaggedState = savedFlaggedState;
  // Most lists must lose candidates for the comparison to mean anything.
  EXPECT_GT(dropped, 200u);
}

}  // namespace
