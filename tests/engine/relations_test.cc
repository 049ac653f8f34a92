#include "engine/relations.h"

#include <gtest/gtest.h>

#include <memory>
#include <tuple>

#include "engine/providers.h"
#include "support/console_capture.h"
#include "support/package_records.h"

namespace {

constexpr Version kNone = 0xFFFFFFFF;

TEST(RelationsRanges, ProvidesRangesOverlapRequirementRanges) {
  // Minor versions of 6.x given and wanted; 0 is no bound.
  const std::tuple<unsigned, unsigned, unsigned, unsigned, bool> cases[] = {
      {40, 0, 45, 49, true}, {50, 0, 45, 49, false}, {0, 44, 45, 0, false}, {50, 60, 0, 0, true},
      {0, 0, 45, 49, true}, {49, 0, 45, 49, true}, {0, 45, 45, 0, true}, {45, 49, 40, 44, false},
      {40, 44, 45, 49, false}, {50, 0, 45, 0, true}};
  for (const auto& [givenMin, givenMax, wantedMin, wantedMax, overlap] : cases) {
    const Package p = Pkg("dnsmasq").gives("dns", 0, six(givenMin), six(givenMax)).p;
    const DependencyEntry wanted = {"dns", six(wantedMin), six(wantedMax), 0};
    EXPECT_EQ(providesMatch(p, wanted), overlap) << givenMin << '-' << givenMax << " vs "
                                                 << wantedMin << '-' << wantedMax;
    EXPECT_EQ(qualifies(p, wanted), overlap);
    EXPECT_FALSE(satisfies(p, wanted));
  }
  // A later entry of the name may overlap where the first does not; names must match.
  const Package two = Pkg("dnsmasq").gives("dns", 0, six(50)).gives("dns", 0, six(40)).p;
  EXPECT_TRUE(providesMatch(two, {"dns", six(45), six(49), 0}));
  EXPECT_FALSE(providesMatch(Pkg("dnsmasq").gives("dnsx").p, {"dns", 0, 0, 0}));
  // Own name: satisfies; a provides entry answers where the own version does not.
  EXPECT_TRUE(qualifies(Pkg("dns", six(47)).p, {"dns", six(45), six(49), 0}));
  EXPECT_FALSE(qualifies(Pkg("dns", six(47)).p, {"dns", six(48), 0, 0}));
  EXPECT_TRUE(qualifies(Pkg("dns", six(40)).gives("dns", 0, six(45)).p, {"dns", six(45), 0, 0}));
}

TEST(RelationsBlocks, ConflictsPrioritiesMembersAndPlaceholders) {
  const std::tuple<const char*, Pkg, Pkg, bool, bool> cases[] = {
      {"conflicts by range", Pkg("wireless").clash("ppp", six(40), six(44)), Pkg("ppp"), 1, 0},
      {"conflicts range misses", Pkg("wireless").clash("ppp", six(40), six(41)), Pkg("ppp"), 0, 0},
      {"b provides a's name, priority -1", Pkg("ntp"), Pkg("chrony").gives("ntp", -1), 1, 0},
      {"b provides a's name, priority 0", Pkg("ntp"), Pkg("chrony").gives("ntp", 0), 0, 1},
      {"providers 5 and 3", Pkg("dnsmasq").gives("dns", 5), Pkg("unbound").gives("dns", 3), 1, 0},
      {"equal providers", Pkg("dnsmasq").gives("dns", 3), Pkg("unbound").gives("dns", 3), 0, 0},
      {"a later provides entry", Pkg("dnsmasq").gives("dhcp", 9).gives("dns", 5),
       Pkg("unbound").gives("dns", 3), 1, 0},
      {"conflict through provides", Pkg("wireless").clash("dns"),
       Pkg("dnsmasq").gives("dns", 0, six(40)), 1, 0},
      {"conflict misses provides", Pkg("wireless").clash("dns", 0, six(30)),
       Pkg("dnsmasq").gives("dns", 0, six(40)), 0, 0},
      {"conflicts decide first", Pkg("ntp").clash("chrony"), Pkg("chrony").gives("ntp", 0), 1, 1},
      {"b's provides of a's name decide before a's provides", Pkg("ntp").gives("chrony", 5),
       Pkg("chrony").gives("ntp", 0), 0, 0},
      {"priorities decide before conflicts through provides",
       Pkg("dnsmasq").gives("dns", 1).clash("dns"), Pkg("unbound").gives("dns", 2), 0, 1},
      {"a member of b has a's name", Pkg("dhcp"),
       Pkg("core").member(Pkg("system")).member(Pkg("dhcp")), 1, 0},
      {"a member of a blocks b",
       Pkg("core").member(Pkg("system")).member(Pkg("wireless").clash("ppp")), Pkg("ppp"), 1, 0},
      {"conflicts do not reach into b's members",
       Pkg("core").member(Pkg("wireless").clash("ppp")), Pkg("extras").member(Pkg("ppp")), 0, 0},
      {"placeholder a", Pkg("wireless", kNone, kNone).clash("ppp"), Pkg("ppp"), 0, 0},
      {"placeholder b", Pkg("wireless").clash("ppp"), Pkg("ppp", kNone, kNone), 0, 0},
      {"placeholder provider", Pkg("ppp"), Pkg("pppoe", kNone, kNone).gives("ppp", -1), 0, 0},
      {"unrelated", Pkg("ntp"), Pkg("ppp"), 0, 0}};
  for (const auto& [what, a, b, aBlocksB, bBlocksA] : cases) {
    EXPECT_EQ(blocks(a.p, b.p), aBlocksB) << what;
    EXPECT_EQ(blocks(b.p, a.p), bBlocksA) << what;
  }
}

TEST(RelationsDependsOn, DirectThroughProvidesAndMembersAndCovers) {
  const std::tuple<const char*, Pkg, Pkg, bool> cases[] = {
      {"direct", Pkg("wireless").needs("system", six(40)), Pkg("system"), true},
      {"version too low", Pkg("wireless").needs("system", six(43)), Pkg("system"), false},
      {"through provides", Pkg("wireless").needs("dns"), Pkg("dnsmasq").gives("dns"), true},
      {"on a member of b", Pkg("wireless").needs("dhcp"),
       Pkg("core").member(Pkg("system")).member(Pkg("dhcp")), true},
      {"a member of a needs b", Pkg("core").member(Pkg("ntp")).member(Pkg("ppp").needs("system")),
       Pkg("system"), true},
      {"unrelated", Pkg("ntp"), Pkg("ppp"), false}};
  for (const auto& [what, a, b, aNeedsB] : cases) {
    EXPECT_EQ(dependsOn(a.p, b.p), aNeedsB) << what;
    EXPECT_FALSE(dependsOn(b.p, a.p)) << what;
  }
  const Package core = Pkg("core").member(Pkg("dhcp")).member(Pkg("ntp")).p;
  EXPECT_TRUE(covers(core, "core") && covers(core, "ntp"));
  EXPECT_FALSE(covers(core, "nt") || covers(Pkg("dhcp").p, "core"));
}

TEST(RelationsCompareVersions, VersionThenBuildTimeLookingIntoBundles) {
  // The bundle's own version is older than its dhcp member: only the member counts.
  const Pkg core = Pkg("core", six(30)).member(Pkg("system", six(50))).member(Pkg("dhcp"));
  const std::tuple<Pkg, Pkg, int> cases[] = {
      {Pkg("dhcp", six(42), 100), Pkg("dhcp", six(41), 200), 1},
      {Pkg("dhcp", six(42), 200), Pkg("dhcp", six(42), 100), 1},
      {Pkg("dhcp", six(42), 100), Pkg("dhcp", six(42), 100), 0},
      {Pkg("dhcp", 0x80000000), Pkg("dhcp", release(1, 0)), 1},
      {Pkg("dhcp", six(42), 0x80000000), Pkg("dhcp", six(42), 1), 1},
      {core, Pkg("dhcp", six(41)), 1}, {core, Pkg("dhcp", six(43)), -1},
      {core, Pkg("dhcp", six(42), 200), -1}, {Pkg("ntp", six(50)), Pkg("dhcp", six(41)), 0},
      {core, Pkg("ntp", six(10)), 0}};
  for (const auto& [a, b, expected] : cases) {
    EXPECT_EQ(compareVersions(a.p, b.p), expected) << a.p.name << " vs " << b.p.name;
    EXPECT_EQ(compareVersions(b.p, a.p), -expected) << b.p.name << " vs " << a.p.name;
  }
}

std::string names(const std::vector<InstalledPackage*>& packages) {
  std::string text;
  for (const InstalledPackage* package : packages) text += package->name + " ";
  return text;
}

TEST(RelationsInstalledSet, CollectProvidersAndFindBlocker) {
  using enum ScheduledAction;
  Repository& repository = freshRepository();
  for (const Pkg& record :
       {Pkg("dns", kNone, kNone), Pkg("dnsmasq").gives("dns").state(true), Pkg("ntp"),
        Pkg("unbound").gives("dns", 0, six(40)).state(false, Uninstall),
        Pkg("knot").gives("dns", 0, 0, six(30)), Pkg("pppoe").clash("wireless").state(true),
        Pkg("ppp").clash("wireless"), Pkg("l2tp").clash("wireless")})
    addInstalled(repository, record);
  EXPECT_EQ(names(collectProviders(repository, {"dns", six(40), 0, 0})), "dnsmasq unbound ");
  EXPECT_EQ(names(collectProviders(repository, {"ntp", 0, 0, 0})), "ntp ");
  EXPECT_EQ(names(collectProviders(repository, {"ntp", six(43), 0, 0})), "");
  const InstalledPackage* blocker = findBlocker(repository, Pkg("wireless").p);
  EXPECT_EQ(blocker ? blocker->name : "none", "ppp");
  EXPECT_EQ(findBlocker(repository, Pkg("dhcp").p), nullptr);
  freshRepository();
}

TEST(RelationsOutlook, ActiveDormantAndTheOutlookOfProviders) {
  using enum ScheduledAction;
  using enum DependencyOutlook;
  // Disabled, action, active, dormant. An enabled package asked to be enabled again stays active.
  const std::tuple<bool, ScheduledAction, bool, bool> states[] = {
      {false, None, true, false},  {false, Enable, true, false}, {false, Uninstall, false, false},
      {false, Disable, false, true}, {true, None, false, true},  {true, Enable, true, false},
      {true, Uninstall, false, true}, {true, Disable, false, true}};
  std::vector<std::unique_ptr<InstalledPackage>> kept;
  auto package = [&](bool disabled, ScheduledAction action) {
    kept.push_back(std::make_unique<InstalledPackage>("dns"));
    kept.back()->disabled = disabled;
    kept.back()->scheduledAction = action;
    return kept.back().get();
  };
  for (const auto& [disabled, action, active, dormant] : states) {
    InstalledPackage* p = package(disabled, action);
    EXPECT_EQ(willBeActive(*p), active) << disabled << ' ' << actionWord(action);
    EXPECT_EQ(isDormant(*p), dormant) << disabled << ' ' << actionWord(action);
    EXPECT_EQ(dependencyOutlook({p}), active ? Available : dormant ? DisabledOnly : Missing);
  }
  const std::pair<std::vector<InstalledPackage*>, DependencyOutlook> outlooks[] = {
      {{}, Missing},
      {{package(false, Uninstall), package(false, Uninstall)}, Missing},
      {{package(false, Uninstall), package(true, None)}, DisabledOnly},
      {{package(false, Disable), package(true, Uninstall), package(true, Enable)}, Available},
      {{package(true, None), package(false, Enable)}, Available}};
  for (const auto& [packages, expected] : outlooks)
    EXPECT_EQ(dependencyOutlook(packages), expected) << packages.size();
}

}  // namespace
