#include "model/package.h"

#include <gtest/gtest.h>

namespace {

// Records are destroyed through the base pointer; the sanitizer build checks that
// the derived members go with them.
TEST(PackageRecord, CopyHasItsOwnListsAndSharesMembersThatOutliveTheBundle) {
  std::weak_ptr<Package> member;
  Package copy;
  {
    std::unique_ptr<Package> bundle = std::make_unique<InstalledPackage>("core");
    static_cast<InstalledPackage&>(*bundle).files.insert("/flash/bin/a");
    bundle->dependencies.push_back({"system", 1, 0, 0});
    bundle->members.push_back(std::make_shared<Package>("dhcp"));
    member = bundle->members[0];
    copy = *bundle;
    copy.dependencies[0].name = "changed";
    EXPECT_EQ(bundle->dependencies[0].name, "system");
    EXPECT_EQ(copy.members[0], bundle->members[0]);
  }
  ASSERT_FALSE(member.expired());
  EXPECT_EQ(copy.members[0]->name, "dhcp");
}

TEST(PackageRecord, PlaceholderAndVersionRanges) {
  Package package("a");
  package.version = 0xFFFFFFFF;
  EXPECT_FALSE(package.isPlaceholder());
  package.buildTime = 0xFFFFFFFF;
  EXPECT_TRUE(package.isPlaceholder());
  const std::tuple<const char*, Version, DependencyEntry, bool> cases[] = {
      {"a", 5, {"a", 0, 0, 0}, true}, {"a", 5, {"a", 5, 0, 0}, true},
      {"a", 5, {"a", 6, 0, 0}, false}, {"a", 5, {"a", 1, 5, 0}, true},
      {"a", 5, {"a", 1, 4, 0}, false}, {"a", 0xF0000000, {"a", 0x10000000, 0, 0}, true},
      {"a", 5, {"A", 0, 0, 0}, false}, {"ab", 5, {"a", 0, 0, 0}, false}};
  for (const auto& [name, version, entry, expected] : cases) {
    package.name = name;
    package.version = version;
    EXPECT_EQ(satisfies(package, entry), expected) << name << ' ' << version << ' '
                                                   << entry.name << ' ' << entry.minVersion;
  }
}

}  // namespace
