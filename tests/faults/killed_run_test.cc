// Power cuts, played by the interposer: the run ends with SIGKILL at its n-th
// file-changing call (rename, unlink, symlink, write), for every n, while hello 6.43
// replaces hello 6.42 by an upgrade run, by "installer -" or by a "--commit" of what
// an upgrade run with "--safe" prepared. Until the moves begin the flash is as it
// was, bar deletions the finished run makes too; after that every entry holds its
// whole old or its whole new content. The database loads, and a "--commit" run
// again finishes the set.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "faults/fault_router.h"

namespace faults {
namespace {

constexpr char kChanges[] = "rename,unlink,symlink,write";

// The listing has a row for hello at either version.
bool listsHello(const std::string& listing) {
  return listing.find("\nhello               6.42 ") != std::string::npos ||
         listing.find("\nhello               6.43 ") != std::string::npos;
}

TEST(KilledRuns, EveryFileChangeLeavesWholeFilesAndALoadableDatabase) {
  const struct {
    const char* name;
    Invocation invocation;
    unsigned long flashFree;  // blocks: 8 take no temporary file, so the apply copies
  } cases[] = {{"upgrade run", {}, kNoLimit},
               {"upgrade run", {}, 8},
               {"installer -", standardInput(newerHello()), kNoLimit},
               {"--commit", {{"--commit"}, "", true}, kNoLimit},
               {"--commit", {{"--commit"}, "", true}, 8}};
  ScratchRoot base;
  installAll(base, {olderHello()});
  offer(base, newerHello());
  for (const auto& c : cases) {
    const bool commit = c.invocation.chrooted;
    ScratchRoot root;
    if (commit) prepareChroot(root);
    // The root before the run; for a commit, with the upgrade prepared.
    const auto prepare = [&] {
      if (!resetRoot(root, base, c.flashFree)) return false;
      return !commit || runWithFault(root, {{"--safe"}}).status == 0;
    };
    if (!prepare()) GTEST_SKIP() << kNoMount;
    const Tree older = flashTree(root);
    ASSERT_EQ(runWithFault(root, c.invocation).status, 0);
    const Tree newer = flashTree(root);
    prepare();
    const unsigned long calls = countCalls(root, c.invocation, {kChanges});
    prepare();
    const unsigned long beforeMoves = calls - countCalls(root, c.invocation, {kChanges, 0, "", true});

    int cut = 0;  // kills that left a mix of old and new
    for (unsigned long n = 1; n <= calls; ++n) {
      prepare();
      const RunResult run = runWithFault(root, c.invocation, {kChanges, n, "kill"});
      const std::string where = std::string(c.name) + ", " + std::to_string(c.flashFree) +
                                " free, killed at " + std::to_string(n) + " of " +
                                std::to_string(calls);
      EXPECT_EQ(run.status, -1) << where;
      const Tree tree = flashTree(root);
      EXPECT_EQ(mixedEntry(tree, older, newer), "") << where;
      for (const auto& [path, entry] : older) {
        const bool kept = tree.count(path) != 0 && tree.at(path) == entry;
        const bool deleted = tree.count(path) == 0 && newer.count(path) == 0;
        EXPECT_TRUE(n > beforeMoves || kept || deleted) << where << ": " << path;
      }
      if (tree != older && tree != newer) ++cut;

      const RunResult listing = runWithFault(root, {{"--show"}});
      EXPECT_EQ(listing.status, 0) << where;
      EXPECT_TRUE(listsHello(listing.out)) << where << "\n" << listing.out;
      if (commit) {
        EXPECT_EQ(runWithFault(root, c.invocation).status, 0) << where;
        EXPECT_EQ(firstDifference(flashTree(root), newer), "") << where;
      }
    }
    EXPECT_GT(cut, 0) << c.name << ": no kill fell inside the apply";
  }
}

}  // namespace
}  // namespace faults
