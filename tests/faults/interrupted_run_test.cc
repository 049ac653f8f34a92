// Runs cut short or failing in the middle, and what the next run makes of them: a
// received package file left behind is no package, a copy's temporary file is taken
// over, a state file that could not be written never goes live, and the database
// is written after the files it describes.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "faults/fault_router.h"
#include "support/signed_packages.h"

namespace faults {
namespace {

constexpr char kChanges[] = "rename,unlink,symlink,write";

// "installer -" writes the received file straight to /flash/var/pdb/image; a run
// cut short before the apply leaves it there, and it must not be taken for the
// database directory of a package named "image".
TEST(InterruptedRuns, StandardInputInstallLeavesNoPackageNamedImage) {
  ScratchRoot base;
  installAll(base, {olderHello()});
  ScratchRoot root;
  if (!resetRoot(root, base)) GTEST_SKIP() << kNoMount;
  EXPECT_EQ(runWithFault(root, standardInput(newerHello()), {kChanges, 1, "kill"}).status, -1);
  const RunResult listing = runWithFault(root, {{"--show"}});
  EXPECT_EQ(listing.out.find("\nimage "), std::string::npos) << listing.out;
}

// A "--commit" cut short while it copies a file from "/ram" leaves the copy's
// temporary file beside the destination; the "--commit" run again finishes the set
// and must take that file over, leaving nothing on the flash.
TEST(InterruptedRuns, CommitAgainLeavesNoTemporaryFileOfTheCutCopy) {
  ScratchRoot base;
  installAll(base, {olderHello()});
  offer(base, newerHello());
  ScratchRoot root;
  prepareChroot(root);
  const Invocation commit{{"--commit"}, "", true};
  const auto prepare = [&] {
    return resetRoot(root, base, 8) && runWithFault(root, {{"--safe"}}).status == 0;
  };
  if (!prepare()) GTEST_SKIP() << kNoMount;
  const unsigned long calls = countCalls(root, commit, {kChanges});
  for (unsigned long n = 1; n <= calls; ++n) {
    prepare();
    runWithFault(root, commit, {kChanges, n, "kill"});
    EXPECT_EQ(runWithFault(root, commit).status, 0);
    EXPECT_EQ(leftoverTemporaries(root.at("flash")), std::vector<std::string>{}) << n;
  }
}

// A state file of the schedule whose write fails must not go live empty: every
// entry of the flash is wholly as before or wholly as after the run.
TEST(InterruptedRuns, ScheduleStateFileCutByAWriteErrorNeverGoesLive) {
  ScratchRoot base;
  // With hello the only package the schedule would refuse to switch everything off.
  const Version version = 7u << 24 | 2u << 16 | 'f' << 8;
  installAll(base, {olderHello(), signedPackageFile(packageLayout("ntp", version, {{"bin/ntpd", 0100755, "n"}}))});
  base.write("ram/pdb/hello/schedule", "disable\n");
  ScratchRoot root;
  const auto prepare = [&] { return resetRoot(root, base); };
  if (!prepare()) GTEST_SKIP() << kNoMount;
  const Tree older = flashTree(root);
  EXPECT_EQ(runWithFault(root, {}).status, 0);
  const Tree newer = flashTree(root);
  ASSERT_EQ(newer.at("/var/pdb/hello/disabled"), " 384 user\\10");
  prepare();
  const unsigned long calls = countCalls(root, {}, {"write"});
  for (unsigned long n = 1; n <= calls; ++n) {
    prepare();
    runWithFault(root, {}, {"write", n, std::to_string(EIO)});
    EXPECT_EQ(mixedEntry(flashTree(root), older, newer), "") << n;
  }
}

// Files in path order would put the database entry ("/flash/var/pdb/...") in before
// files that sort after it ("/flash/www/..."); a run cut short in between would
// leave the database naming hello 6.43 over old files, and the same run again
// would take hello 6.43 for installed. The database goes last, so the same run
// again finishes the upgrade.
TEST(InterruptedRuns, ApplyCutShortIsFinishedByTheSameRunAgain) {
  ScratchRoot base;
  installAll(base, {olderHello()});
  offer(base, newerHello());
  for (const Invocation& invocation : {Invocation{}, standardInput(newerHello())}) {
    ScratchRoot root;
    if (!resetRoot(root, base)) GTEST_SKIP() << kNoMount;
    EXPECT_EQ(runWithFault(root, invocation).status, 0);
    const Tree newer = flashTree(root);
    resetRoot(root, base);
    const unsigned long calls = countCalls(root, invocation, {kChanges});
    for (unsigned long n = 1; n <= calls; ++n) {
      resetRoot(root, base);
      runWithFault(root, invocation, {kChanges, n, "kill"});
      runWithFault(root, invocation);
      EXPECT_EQ(firstDifference(flashTree(root), newer), "") << n;
    }
  }
}

}  // namespace
}  // namespace faults
