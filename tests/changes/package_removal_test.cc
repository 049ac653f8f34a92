#include "changes/package_removal.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include "changes/change_set.h"
#include "changes/change_text.h"
#include "model/package.h"
#include "support/scratch_root.h"

namespace {

TEST(PackageRemoval, RecordsItsFilesDatabaseDirectoryImageAndOnlyALastBootImage) {
  ScratchRoot root;
  for (const char* file : {"etc/passwd", "flash/bin/tool", "flash/x/a", "flash/var/pdb/p/version",
                           "flash/bootimage", "flash/var/pdb/image", "flash/var/pdb/a/b/image"})
    root.write(file, "x");
  EXPECT_TRUE(inRoot(root, [] {
    // The changes recorded for a package; its files are emptied and its action reset.
    const auto removal = [](const std::string& name, std::set<std::string> files, uint32_t flags) {
      InstalledPackage package(name);
      package.files = std::move(files);
      package.flags = flags;
      package.scheduledAction = ScheduledAction::Disable;
      ChangeSet changes;
      removePackageFiles(package, changes);
      EXPECT_TRUE(package.files.empty() && package.scheduledAction == ScheduledAction::None);
      return changeText(changes);
    };
    // Only plain paths below "/flash/" can be installed files.
    EXPECT_EQ(removal("p", {"/flash/bin/tool", "/flash/bin/gone", "/flash/x/a", "/etc/passwd",
                            "/flash/../etc/passwd", "/flash//bin/tool", "/flash/./bin/tool",
                            "/flash/bin/", "/flash", "flash/bin/tool",
                            std::string("/flash/bin/tool\0/x", 18)}, 0),
              "U /flash/bin/tool\nU /flash/var/pdb/p/\nU /flash/x/a\n");
    writeFile("/flash/var/pdb/p/image", "x");
    EXPECT_EQ(removal("p", {}, BOOT_PACKAGE),
              "U /flash/bootimage\nU /flash/var/pdb/p/\nU /flash/var/pdb/p/image\n");
    // An unsafe name never makes a database path of its own.
    for (const char* name : {"", ".", "..", "a/b"})
      EXPECT_EQ(removal(name, {}, 0), "") << '"' << name << '"';
    ASSERT_EQ(link("/flash/bootimage", "/flash/kept"), 0);
    EXPECT_EQ(removal("system", {}, BOOT_PACKAGE), "");
  }));
}

}  // namespace
