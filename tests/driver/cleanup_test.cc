// "installer --cleanup" as a whole-program run: the add-ons not built for the current
// system generation go, quietly, after the pending schedule has been carried out.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/package_records.h"
#include "support/scratch_root.h"
#include "support/signed_packages.h"

namespace {

// The last version of the previous generation, 3.22 with the letter below final.
constexpr Version kLastOld = 0x031665FF;
constexpr Version kFirstNew = 0x03166600;

std::string requiresSystem(Version minimum) {
  return "system " + std::to_string(minimum) + " 0\n";
}

TEST(Cleanup, AddOnsOfAnEarlierGenerationAreUninstalled) {
  const struct {
    std::string name, deps;
    bool stays;
  } cases[] = {
      {"system", "", true},
      {"tolvo", "", true},
      {"disk-drivers", "", true},
      {"wireless", requiresSystem(kLastOld), false},
      {"ntp", requiresSystem(kFirstNew), true},
      {"ppp", "", false},
      {"snmp", "tolvo 0 0\n", false},
      // Any requirement of this generation keeps it, not only the first.
      {"hotspot", requiresSystem(kLastOld) + requiresSystem(kFirstNew), true},
  };
  ScratchRoot root;
  for (const auto& c : cases) {
    writeEntry(root, c.name, release(7, 2),
               {{"deps", c.deps}, {"files", "flash/bin/" + c.name + "\n"}});
    root.write("flash/bin/" + c.name, c.name);
  }
  // A bundle names no requirement at all, and is kept with its member dhcp.
  BundleLayout core = bundleLayout("core", release(7, 2), {toolPackage("dhcp", release(7, 2))});
  core.members[0].meta.dependencies = {{"system", kFirstNew, 0, 0}};
  installThroughStdin(root, signedBundleFile(core));
  // Carried out first, and as quietly as the removals.
  root.write("ram/pdb/ntp/schedule", "disable\n");

  const RunResult run = runInstaller(root, {"--cleanup"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "");
  for (const auto& c : cases) {
    EXPECT_EQ(root.exists("flash/var/pdb/" + c.name), c.stays) << c.name;
    EXPECT_EQ(root.exists("flash/bin/" + c.name), c.stays) << c.name;
  }
  EXPECT_EQ(root.read("flash/var/pdb/ntp/disabled"), "user\n");
  EXPECT_EQ(root.read("flash/bin/dhcp"), "dhcp");
  EXPECT_TRUE(root.exists("flash/var/pdb/core/image"));
  // No change marker, no log.
  EXPECT_FALSE(root.exists("flash/PCKGS_CHANGED"));
  EXPECT_FALSE(root.exists("flash/postlog"));
}

}  // namespace
