// The post-install log "/flash/postlog" across upgrade runs: taken over and rewritten
// when package files are found, appended to otherwise, and left alone by a run
// that logged nothing. (What the file holds while the boot stage runs is seen by the
// boot-stage probe in upgrade_run_test.cc.)

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/package_records.h"
#include "support/scratch_root.h"
#include "support/signed_packages.h"

namespace {

// dhcp and ppp 6.42 are installed; a run may find dhcp 6.43, and may be asked to
// disable ppp, which prints "disabled ppp-6.42" before any package file is looked at.
TEST(Postlog, TakenOverAppendedOrLeftAlone) {
  const std::string dhcp = signedPackageFile(toolPackage("dhcp", release(6, 43)));
  const std::string old = "one\n\ntwo\ncut short";
  const struct {
    const char* before;  // null: no log yet
    bool disablePpp;
    bool offerDhcp;
    std::vector<std::string> arguments;
    const char* after;  // null: no log at all
  } cases[] = {
      // Whole old lines come first, then this run's; the last line without its line
      // feed is dropped.
      {old.c_str(), false, true, {}, "one\n\ntwo\ninstalled dhcp-6.43\n"},
      // Taken over behind the messages printed so far.
      {old.c_str(), true, true, {}, "disabled ppp-6.42\none\n\ntwo\ninstalled dhcp-6.43\n"},
      // A quiet run logs nothing of its own: the old lines alone.
      {old.c_str(), false, true, {"-q"}, "one\n\ntwo\n"},
      {nullptr, false, true, {}, "installed dhcp-6.43\n"},
      // No package files: appended to whatever the file holds.
      {"one\n", true, false, {}, "one\ndisabled ppp-6.42\n"},
      {nullptr, true, false, {}, "disabled ppp-6.42\n"},
      // Nothing logged, nothing taken over: not touched, not even created.
      {old.c_str(), false, false, {}, old.c_str()},
      {nullptr, false, false, {}, nullptr},
      {"one\n", true, false, {"-q"}, "one\n"},
  };
  for (const auto& c : cases) {
    ScratchRoot root;
    for (const char* name : {"dhcp", "ppp"}) writeEntry(root, name, release(6, 42));
    if (c.before != nullptr) root.write("flash/postlog", c.before);
    if (c.disablePpp) root.write("ram/pdb/ppp/schedule", "disable\n");
    if (c.offerDhcp) root.write("rw/pckg/.download/dhcp.zpk", dhcp);
    const RunResult run = runInstaller(root, c.arguments);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(root.exists("flash/postlog") ? root.read("flash/postlog") : "(none)",
              c.after != nullptr ? c.after : "(none)");
  }
}

}  // namespace
