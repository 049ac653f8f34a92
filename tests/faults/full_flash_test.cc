// The installer on a flash that fills up. hello 6.42 lies on a tmpfs flash left with
// some number of free blocks, so that the temporary files of hello 6.43 spill to
// "/ram" from some file on; "/ram" is an ordinary directory (a roomy one) or a small
// tmpfs of its own beside a flash that takes no temporary file at all, which then
// runs out at some file. Block by block, every file of the package is the first not
// to find room in turn. Each run installs hello 6.43 whole, or refuses with its
// message and leaves the flash exactly as it was; no temporary file stays behind.

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "faults/fault_router.h"
#include "support/console_text.h"

namespace faults {
namespace {

constexpr char kTooSmall[] = "ERROR: installation of hello-6.43 failed: disk is too small\n";

bool isNoRoom(const std::string& lines) {
  const std::string head = "ERROR: upgrade failed, free ";
  const std::string tail = " kB disk space for a upgrade\n";
  return lines.size() > head.size() + tail.size() && lines.rfind(head, 0) == 0 &&
         lines.compare(lines.size() - tail.size(), tail.size(), tail) == 0 &&
         lines.find('\n') == lines.size() - 1;
}

TEST(FullFlash, EveryFileRunsOutOfRoomInTurn) {
  const struct {
    const char* name;
    Invocation invocation;
    int tooSmallStatus;  // the failed install's result; the upgrade run ends with 0
    const char* lines;
  } modes[] = {{"installer -", standardInput(newerHello()), 1, ""},
               {"upgrade run", {}, 0, "installed hello-6.43\n"}};
  // Free blocks on the flash, or on a small "/ram" beside 16 on the flash (less than
  // the 64 KiB a temporary file must leave there).
  const struct {
    bool smallRam;
    unsigned long first, last;
  } sweeps[] = {{false, 0, 40}, {true, 1, 22}};
  ScratchRoot base;
  installAll(base, {olderHello()});
  offer(base, newerHello());
  for (const auto& mode : modes) {
    for (const auto& sweep : sweeps) {
      ScratchRoot root;
      if (!resetRoot(root, base)) GTEST_SKIP() << kNoMount;
      ASSERT_EQ(runWithFault(root, mode.invocation).status, 0);
      const Tree newer = flashTree(root);
      std::set<std::string> outcomes;
      for (unsigned long blocks = sweep.first; blocks <= sweep.last; ++blocks) {
        if (!resetRoot(root, base, sweep.smallRam ? 16 : blocks,
                       sweep.smallRam ? blocks : kNoLimit))
          GTEST_SKIP() << kNoMount;
        const Tree older = flashTree(root);
        const RunResult run = runWithFault(root, mode.invocation);
        const std::string lines = splitConsole(run.out).lines;
        const std::string where = std::string(mode.name) + (sweep.smallRam ? ", /ram " : ", flash ") +
                                  std::to_string(blocks) + " blocks: " + lines + run.err;
        if (lines == kTooSmall || isNoRoom(lines)) {
          EXPECT_EQ(run.status, lines == kTooSmall ? mode.tooSmallStatus : 28) << where;
          EXPECT_EQ(firstDifference(flashTree(root), older), "") << where;
          outcomes.insert(lines == kTooSmall ? "too small" : "no room");
        } else {
          EXPECT_EQ(run.status, 0) << where;
          EXPECT_EQ(lines, mode.lines) << where;
          EXPECT_EQ(firstDifference(flashTree(root), newer), "") << where;
          outcomes.insert("installed");
        }
        EXPECT_EQ(run.err, "") << where;
        EXPECT_EQ(temporaries(root), std::vector<std::string>{}) << where;
      }
      // From the first file's refusal to a whole install; on the flash, from the
      // refusal of an apply that would run out of room half-way.
      const std::set<std::string> expected = {sweep.smallRam ? "too small" : "no room",
                                              "installed"};
      EXPECT_EQ(outcomes, expected) << mode.name;
    }
  }
}

}  // namespace
}  // namespace faults
