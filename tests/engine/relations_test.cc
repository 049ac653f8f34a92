#include "engine/relations.h"

#include <gtest/gtest.h>

#include <memory>

#include "engine/providers.h"
#include "model/package.h"
#include "pdb/repository.h"
#include "support/console_capture.h"

namespace {

constexpr Version ver(unsigned major, unsigned minor) {
  return major << 24 | minor << 16 | 'f' << 8;
}
// 6.minor; 0 stays 0 (no bound).
constexpr Version six(unsigned minor) { return minor ? ver(6, minor) : 0; }
constexpr Version kNone = 0xFFFFFFFF;

// A package in one expression: Pkg("core").member(Pkg("wireless").clash("ppp")).
struct Pkg {
  explicit Pkg(const char* name, Version version = ver(6, 42), uint32_t buildTime = 100) {
    p.name = name;
    p.version = version;
    p.buildTime = buildTime;
  }
  Pkg& needs(const char* name, Version min = 0) { return add(p.dependencies, {name, min, 0, 0}); }
  Pkg& gives(const char* name, int32_t priority = 0, Version min = 0, Version max = 0) {
    return add(p.provides, {name, min, max, priority});
  }
  Pkg& clash(const char* name, Version min = 0, Version max = 0) {
    return add(p.conflicts, {name, min, max, 0});
  }
  Pkg& member(const Pkg& m) {
    p.members.push_back(std::make_shared<Package>(m.p));
    p.isBundle = true;
    return *this;
  }
  Pkg& add(std::vector<DependencyEntry>& list, const DependencyEntry& entry) {
    list.push_back(entry);
    return *this;
  }
  Package p;
};

TEST(RelationsRanges, ProvidesRangesOverlapRequirementRanges) {
  // Minor versions of 6.x; 0 is no bound.
  const struct {
    unsigned givenMin, givenMax, wantedMin, wantedMax;
    bool overlap;
  } cases[] = {
      {40, 0, 45, 49, true},  {50, 0, 45, 49, false}, {0, 44, 45, 0, false},
      {50, 60, 0, 0, true},   {0, 0, 45, 49, true},   {49, 0, 45, 49, true},
      {0, 45, 45, 0, true},   {45, 49, 40, 44, false}, {40, 44, 45, 49, false},
      {50, 0, 45, 0, true},
  };
  for (const auto& c : cases) {
    const Package p = Pkg("dnsmasq").gives("dns", 0, six(c.givenMin), six(c.givenMax)).p;
    const DependencyEntry wanted = {"dns", six(c.wantedMin), six(c.wantedMax), 0};
    EXPECT_EQ(providesMatch(p, wanted), c.overlap) << c.givenMin << '-' << c.givenMax << " vs "
                                                   << c.wantedMin << '-' << c.wantedMax;
    EXPECT_EQ(qualifies(p, wanted), c.overlap);
    EXPECT_FALSE(satisfies(p, wanted));
  }
  // A later entry of the name may overlap where the first does not; names must match.
  const Package two = Pkg("dnsmasq").gives("dns", 0, six(50)).gives("dns", 0, six(40)).p;
  EXPECT_TRUE(providesMatch(two, {"dns", six(45), six(49), 0}));
  EXPECT_FALSE(providesMatch(Pkg("dnsmasq").gives("dnsx").p, {"dns", 0, 0, 0}));
  // Own name: satisfies; a provides entry answers where the own version does not.
  EXPECT_TRUE(qualifies(Pkg("dns", ver(6, 47)).p, {"dns", six(45), six(49), 0}));
  EXPECT_FALSE(qualifies(Pkg("dns", ver(6, 47)).p, {"dns", six(48), 0, 0}));
  EXPECT_TRUE(qualifies(Pkg("dns", ver(6, 40)).gives("dns", 0, six(45)).p, {"dns", six(45), 0, 0}));
}

TEST(RelationsBlocks, ConflictsPrioritiesMembersAndPlaceholders) {
  const Pkg placeholder("ppp", kNone, kNone);
  const struct {
    const char* what;
    Pkg a, b;
    bool aBlocksB, bBlocksA;
  } cases[] = {
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
      {"placeholder b", Pkg("wireless").clash("ppp"), placeholder, 0, 0},
      {"placeholder provider", Pkg("ppp"), Pkg("pppoe", kNone, kNone).gives("ppp", -1), 0, 0},
      {"unrelated", Pkg("ntp"), Pkg("ppp"), 0, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(blocks(c.a.p, c.b.p), c.aBlocksB) << c.what;
    EXPECT_EQ(blocks(c.b.p, c.a.p), c.bBlocksA) << c.what;
  }
}

TEST(RelationsDependsOn, DirectThroughProvidesAndMembersAndCovers) {
  const struct {
    const char* what;
    Pkg a, b;
    bool aNeedsB;
  } cases[] = {
      {"direct", Pkg("wireless").needs("system", six(40)), Pkg("system"), true},
      {"version too low", Pkg("wireless").needs("system", six(43)), Pkg("system"), false},
      {"through provides", Pkg("wireless").needs("dns"), Pkg("dnsmasq").gives("dns"), true},
      {"on a member of b", Pkg("wireless").needs("dhcp"),
       Pkg("core").member(Pkg("system")).member(Pkg("dhcp")), true},
      {"a member of a needs b", Pkg("core").member(Pkg("ntp")).member(Pkg("ppp").needs("system")),
       Pkg("system"), true},
      {"unrelated", Pkg("ntp"), Pkg("ppp"), false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(dependsOn(c.a.p, c.b.p), c.aNeedsB) << c.what;
    EXPECT_FALSE(dependsOn(c.b.p, c.a.p)) << c.what;
  }
  const Package core = Pkg("core").member(Pkg("dhcp")).member(Pkg("ntp")).p;
  EXPECT_TRUE(covers(core, "core"));
  EXPECT_TRUE(covers(core, "ntp"));
  EXPECT_FALSE(covers(core, "nt"));
  EXPECT_FALSE(covers(Pkg("dhcp").p, "core"));
}

TEST(RelationsCompareVersions, VersionThenBuildTimeLookingIntoBundles) {
  // The bundle's own version is older than its dhcp member: only the member counts.
  const Pkg core = Pkg("core", ver(6, 30)).member(Pkg("system", ver(6, 50))).member(Pkg("dhcp"));
  const struct {
    Pkg a, b;
    int expected;
  } cases[] = {
      {Pkg("dhcp", ver(6, 42), 100), Pkg("dhcp", ver(6, 41), 200), 1},
      {Pkg("dhcp", ver(6, 42), 200), Pkg("dhcp", ver(6, 42), 100), 1},
      {Pkg("dhcp", ver(6, 42), 100), Pkg("dhcp", ver(6, 42), 100), 0},
      {Pkg("dhcp", 0x80000000), Pkg("dhcp", ver(1, 0)), 1},
      {Pkg("dhcp", ver(6, 42), 0x80000000), Pkg("dhcp", ver(6, 42), 1), 1},
      {core, Pkg("dhcp", ver(6, 41)), 1},
      {core, Pkg("dhcp", ver(6, 43)), -1},
      {core, Pkg("dhcp", ver(6, 42), 200), -1},
      {Pkg("ntp", ver(6, 50)), Pkg("dhcp", ver(6, 41)), 0},
      {core, Pkg("ntp", ver(6, 10)), 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(compareVersions(c.a.p, c.b.p), c.expected) << c.a.p.name << " vs " << c.b.p.name;
    EXPECT_EQ(compareVersions(c.b.p, c.a.p), -c.expected) << c.b.p.name << " vs " << c.a.p.name;
  }
}

void install(const Pkg& record, bool disabled = false,
             ScheduledAction action = ScheduledAction::None) {
  auto& package = Repository::instance().packages.emplace_back(new InstalledPackage);
  static_cast<Package&>(*package) = record.p;
  package->disabled = disabled;
  package->scheduledAction = action;
}

std::string names(const std::vector<InstalledPackage*>& packages) {
  std::string text;
  for (const InstalledPackage* package : packages) text += package->name + " ";
  return text;
}

TEST(RelationsInstalledSet, CollectProvidersAndFindBlocker) {
  const Repository& repository = freshRepository();
  install(Pkg("dns", kNone, kNone));
  install(Pkg("dnsmasq").gives("dns"), true);
  install(Pkg("ntp"));
  install(Pkg("unbound").gives("dns", 0, six(40)), false, ScheduledAction::Uninstall);
  install(Pkg("knot").gives("dns", 0, 0, six(30)));
  EXPECT_EQ(names(collectProviders(repository, {"dns", six(40), 0, 0})), "dnsmasq unbound ");
  EXPECT_EQ(names(collectProviders(repository, {"ntp", 0, 0, 0})), "ntp ");
  EXPECT_EQ(names(collectProviders(repository, {"ntp", six(43), 0, 0})), "");

  freshRepository();
  install(Pkg("pppoe").clash("wireless"), true);
  install(Pkg("ntp"));
  install(Pkg("ppp").clash("wireless"));
  install(Pkg("l2tp").clash("wireless"));
  const InstalledPackage* blocker = findBlocker(repository, Pkg("wireless").p);
  ASSERT_NE(blocker, nullptr);
  EXPECT_EQ(blocker->name, "ppp");
  EXPECT_EQ(findBlocker(repository, Pkg("dhcp").p), nullptr);
  freshRepository();
}

TEST(RelationsOutlook, ActiveDormantAndTheOutlookOfProviders) {
  using enum ScheduledAction;
  using enum DependencyOutlook;
  // An enabled package asked to be enabled again stays active.
  const struct {
    bool disabled;
    ScheduledAction action;
    bool active, dormant;
  } states[] = {
      {false, None, true, false},       {false, Enable, true, false},
      {false, Uninstall, false, false}, {false, Disable, false, true},
      {true, None, false, true},        {true, Enable, true, false},
      {true, Uninstall, false, true},   {true, Disable, false, true},
  };
  std::vector<std::unique_ptr<InstalledPackage>> kept;
  auto package = [&](bool disabled, ScheduledAction action) {
    kept.push_back(std::make_unique<InstalledPackage>("dns"));
    kept.back()->disabled = disabled;
    kept.back()->scheduledAction = action;
    return kept.back().get();
  };
  for (const auto& s : states) {
    InstalledPackage* p = package(s.disabled, s.action);
    EXPECT_EQ(willBeActive(*p), s.active) << s.disabled << ' ' << actionWord(s.action);
    EXPECT_EQ(isDormant(*p), s.dormant) << s.disabled << ' ' << actionWord(s.action);
    EXPECT_EQ(dependencyOutlook({p}), s.active ? Available : s.dormant ? DisabledOnly : Missing);
  }
  const struct {
    std::vector<InstalledPackage*> packages;
    DependencyOutlook expected;
  } outlooks[] = {
      {{}, Missing},
      {{package(false, Uninstall), package(false, Uninstall)}, Missing},
      {{package(false, Uninstall), package(true, None)}, DisabledOnly},
      {{package(false, Disable), package(true, Uninstall), package(true, Enable)}, Available},
      {{package(true, None), package(false, Enable)}, Available},
  };
  for (const auto& o : outlooks)
    EXPECT_EQ(dependencyOutlook(o.packages), o.expected) << o.packages.size();
}

}  // namespace
