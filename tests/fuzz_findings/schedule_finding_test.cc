// Installed sets on which the schedule once recursed without end (found by
// fuzz/schedule_fuzz): bundle references that lead from a disabled record back to
// itself. Each run happens in a forked child, so a stack overflow fails the test
// instead of the test program.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "changes/change_set.h"
#include "engine/schedule.h"
#include "model/package.h"
#include "support/console_capture.h"
#include "support/scratch_root.h"

namespace {

using enum ScheduledAction;

struct Record {
  std::string name;
  bool disabled;
  ScheduledAction action;
  std::string bundle;
};

// Runs the schedule over the records and returns the names left, each followed by
// "!" when disabled.
std::string scheduled(const std::vector<Record>& records) {
  ScratchRoot root;
  EXPECT_TRUE(inRoot(root, [&] {
    Repository& repository = freshRepository();
    repository.quiet = true;
    for (const Record& r : records) {
      auto& package = repository.packages.emplace_back(new InstalledPackage(r.name));
      package->version = 0x062A6600;
      package->disabled = r.disabled;
      package->scheduledAction = r.action;
      package->bundle.name = r.bundle;
    }
    ChangeSet changes;
    applySchedule(repository, changes, true);
    std::string text;
    for (const auto& p : repository.packages) text += p->name + (p->disabled ? "! " : " ");
    changes.discard();
    writeFile("/result", text);
  }));
  return root.read("result");
}

// A bundle image holding a member of the bundle's own name: the member names
// itself as its bundle. Enabling it enables it once.
TEST(ScheduleFinding, DisabledRecordNamingItselfAsBundleIsEnabledOnce) {
  EXPECT_EQ(scheduled({{"b", true, Enable, "b"}}), "b ");
}

// Two disabled records naming each other as their bundle, reached from an active
// member: both are enabled, each once.
TEST(ScheduleFinding, BundleReferencesInACircleEnableEachRecordOnce) {
  EXPECT_EQ(scheduled({{"m", false, None, "x"}, {"x", true, None, "y"}, {"y", true, None, "x"}}),
            "m x y ");
}

}  // namespace
