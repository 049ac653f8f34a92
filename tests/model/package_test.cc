#include "model/package.h"

#include <gtest/gtest.h>

namespace {

constexpr Version v6_42_3 = 0x062A6603;

TEST(PackageNames, DisplayNameAlwaysCarriesTheVersion) {
  Package system("system");
  system.version = v6_42_3;
  EXPECT_EQ(displayName(system), "system-6.42.3");
  Package bare("bare");
  EXPECT_EQ(displayName(bare), "bare-0.0");
}

TEST(PackageNames, BundleReferenceWithoutVersionIsTheBareName) {
  EXPECT_EQ(bundleRefName(DependencyEntry{"routeros", 0, 0, 0}), "routeros");
  EXPECT_EQ(bundleRefName(DependencyEntry{"routeros", v6_42_3, v6_42_3, 0}), "routeros-6.42.3");
}

TEST(PackageNames, ProgressNameOfABundleMemberIsTheBundle) {
  InstalledPackage member("wireless");
  member.version = 0x062A6601;
  EXPECT_EQ(progressName(member), "wireless-6.42.1");
  member.bundle = DependencyEntry{"routeros", v6_42_3, v6_42_3, 0};
  EXPECT_EQ(progressName(member), "routeros-6.42.3");
}

TEST(PackageRecord, CopyHasItsOwnListsButSharesMembers) {
  auto member = std::make_shared<Package>("dhcp");
  Package bundle("routeros");
  bundle.isBundle = true;
  bundle.dependencies.push_back({"system", 1, 0, 0});
  bundle.members.push_back(member);

  Package copy = bundle;
  copy.dependencies[0].name = "changed";
  copy.dependencies.push_back({"extra", 0, 0, 0});
  EXPECT_EQ(bundle.dependencies.size(), 1u);
  EXPECT_EQ(bundle.dependencies[0].name, "system");
  ASSERT_EQ(copy.members.size(), 1u);
  EXPECT_EQ(copy.members[0].get(), member.get());
}

TEST(PackageRecord, DestroyingABundleLeavesItsMembersUsable) {
  std::weak_ptr<Package> watch;
  Package survivor;
  {
    auto bundle = std::make_unique<Package>("routeros");
    bundle->members.push_back(std::make_shared<Package>("dhcp"));
    watch = bundle->members[0];
    survivor.members = bundle->members;
    std::unique_ptr<Package> asBase = std::move(bundle);
  }
  ASSERT_FALSE(watch.expired());
  EXPECT_EQ(survivor.members[0]->name, "dhcp");
}

TEST(PackageRecord, DestroyedThroughTheBasePointer) {
  // A record of each class is freed through Package*; the sanitizer build checks
  // that the derived members go with it.
  std::unique_ptr<Package> installed = std::make_unique<InstalledPackage>("a");
  static_cast<InstalledPackage*>(installed.get())->files.insert("/flash/bin/a");
  std::unique_ptr<Package> file = std::make_unique<PackageFile>();
  static_cast<PackageFile*>(file.get())->path = "/flash/var/pckg/a.zpk";
  installed.reset();
  file.reset();
  SUCCEED();
}

TEST(PackageRecord, Placeholder) {
  Package package("p");
  package.version = 0xFFFFFFFF;
  EXPECT_FALSE(package.isPlaceholder());
  package.buildTime = 0xFFFFFFFF;
  EXPECT_TRUE(package.isPlaceholder());
}

struct SatisfyCase {
  const char* name;
  Version version;
  DependencyEntry entry;
  bool expected;
};

class Satisfies : public ::testing::TestWithParam<SatisfyCase> {};

TEST_P(Satisfies, FollowsTheVersionRange) {
  Package package(GetParam().name);
  package.version = GetParam().version;
  EXPECT_EQ(satisfies(package, GetParam().entry), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, Satisfies,
    ::testing::Values(SatisfyCase{"a", 5, {"a", 0, 0, 0}, true},
                      SatisfyCase{"a", 5, {"a", 5, 0, 0}, true},
                      SatisfyCase{"a", 5, {"a", 6, 0, 0}, false},
                      SatisfyCase{"a", 5, {"a", 1, 5, 0}, true},
                      SatisfyCase{"a", 5, {"a", 1, 4, 0}, false},
                      SatisfyCase{"a", 0xF0000000, {"a", 0x10000000, 0, 0}, true},
                      SatisfyCase{"a", 5, {"A", 0, 0, 0}, false},
                      SatisfyCase{"ab", 5, {"a", 0, 0, 0}, false}));

}  // namespace
