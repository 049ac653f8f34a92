// Entries written through a change set, applied to a scratch root and loaded back
// as the next run loads them.

#include <gtest/gtest.h>

#include "changes/apply.h"
#include "changes/change_set.h"
#include "changes/package_removal.h"
#include "pdb/database_writer.h"
#include "pdb/repository.h"
#include "support/console_capture.h"
#include "support/scratch_root.h"

namespace {

InstalledPackage ntp() {
  InstalledPackage record("ntp");
  record.version = 0x062A6603;
  record.buildTime = 1700000000;
  record.dependencies = {{"system", 0x062A0000, 0x062AFFFF, 0}, {"dhcp", 0, 0, 0}};
  record.provides = {{"timed", 0x01000000, 0, -1}, {"sntp", 2, 3, 7}};
  record.conflicts = {{"chrony", 1, 0, 0}};
  record.files = {"/flash/bin/ntpd", "bin/b"};
  record.disabled = true;
  return record;
}

void expectSameEntries(const std::vector<DependencyEntry>& a, const std::vector<DependencyEntry>& b) {
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i)
    EXPECT_TRUE(a[i].name == b[i].name && a[i].minVersion == b[i].minVersion &&
                a[i].maxVersion == b[i].maxVersion && a[i].priority == b[i].priority)
        << a[i].name;
}

TEST(DatabaseRoundTrip, ReplacementWithoutListsReadsBackWithout) {
  ScratchRoot root;
  EXPECT_TRUE(inRoot(root, [] {
    Repository& repository = freshRepository();
    ChangeSet first;
    InstalledPackage written = ntp();
    ASSERT_TRUE(writeDatabaseEntry(written, first));
    apply(first, false);
    repository.open("i386", true);
    ASSERT_EQ(repository.packages.size(), 1u);
    const InstalledPackage& loaded = *repository.packages[0];
    EXPECT_EQ(loaded.version, written.version);
    EXPECT_EQ(loaded.buildTime, written.buildTime);
    expectSameEntries(loaded.dependencies, written.dependencies);
    expectSameEntries(loaded.provides, written.provides);
    expectSameEntries(loaded.conflicts, written.conflicts);
    EXPECT_EQ(loaded.files, (std::set<std::string>{"/bin/b", "/flash/bin/ntpd"}));
    EXPECT_TRUE(loaded.disabled && !loaded.userChosen && !loaded.isBundle);

    // The next version reuses the directory: its pending deletion is dropped.
    ChangeSet second;
    removePackageFiles(*repository.packages[0], second);
    ASSERT_NE(second.find("/flash/var/pdb/ntp/"), nullptr);
    second.erase("/flash/var/pdb/ntp/");
    InstalledPackage next("ntp");
    next.version = 0x062B6600;
    next.bundle = {"routeros", 1, 1, 0};
    next.isBundle = true;
    ASSERT_TRUE(writeDatabaseEntry(next, second));
    apply(second, false);
    freshRepository().open("i386", true);
    ASSERT_EQ(repository.packages.size(), 1u);
    const InstalledPackage& replaced = *repository.packages[0];
    EXPECT_EQ(replaced.version, 0x062B6600u);
    EXPECT_TRUE(replaced.dependencies.empty());
    EXPECT_TRUE(replaced.provides.empty());
    EXPECT_TRUE(replaced.conflicts.empty());
    EXPECT_TRUE(replaced.isBundle);
    EXPECT_TRUE(replaced.files.empty());
    EXPECT_EQ(replaced.bundle.name, "routeros");
    EXPECT_EQ(replaced.scheduledAction, 1u);  // no image supplied the member
    EXPECT_FALSE(replaced.disabled);
  }));
}

}  // namespace
