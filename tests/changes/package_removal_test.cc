#include "changes/package_removal.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include "changes/change_set.h"
#include "changes/change_text.h"
#include "model/package.h"
#include "support/scratch_root.h"

namespace {

// The changes removePackageFiles records inside root for a package with these
// fields; it must also leave files empty and scheduledAction 0.
std::string removalOf(const ScratchRoot& root, const std::string& name,
                      std::set<std::string> files = {}, uint32_t flags = 0) {
  EXPECT_TRUE(inRoot(root, [&] {
    InstalledPackage package(name);
    package.files = files;
    package.flags = flags;
    package.scheduledAction = 3;
    ChangeSet changes;
    removePackageFiles(package, changes);
    EXPECT_TRUE(package.files.empty());
    EXPECT_EQ(package.scheduledAction, 0u);
    writeFile("/changes", changeText(changes));
  }));
  return root.read("changes");
}

TEST(PackageRemoval, FilesDirectoryAndImageAreDeleted) {
  ScratchRoot root;
  root.write("flash/bin/tool", "x");
  root.write("flash/x/dhcp/lib/a", "x");
  root.write("flash/var/pdb/dhcp/version", "1 2");
  const std::set<std::string> files = {"/flash/bin/tool", "/flash/bin/gone", "/flash/x/dhcp/lib/a"};
  EXPECT_EQ(removalOf(root, "dhcp", files),
            "U /flash/bin/tool\nU /flash/var/pdb/dhcp/\nU /flash/x/dhcp/lib/a\n");
  root.write("flash/var/pdb/dhcp/image", "x");
  EXPECT_EQ(removalOf(root, "dhcp", files),
            "U /flash/bin/tool\nU /flash/var/pdb/dhcp/\nU /flash/var/pdb/dhcp/image\n"
            "U /flash/x/dhcp/lib/a\n");
}

TEST(PackageRemoval, BootImageGoesOnlyWithTheBootPackageAndItsLastLink) {
  ScratchRoot root;
  root.write("flash/bootimage", "boot");
  EXPECT_EQ(removalOf(root, "system"), "");
  EXPECT_EQ(removalOf(root, "system", {}, BOOT_PACKAGE), "U /flash/bootimage\n");
  ASSERT_EQ(link(root.at("flash/bootimage").c_str(), root.at("flash/kept").c_str()), 0);
  EXPECT_EQ(removalOf(root, "system", {}, BOOT_PACKAGE), "");
}

TEST(PackageRemoval, UnsafeNameRemovesNoDatabasePath) {
  ScratchRoot root;
  root.write("flash/var/pdb/image", "x");
  root.write("flash/var/pdb/a/b/image", "x");
  for (const char* name : {"", ".", "..", "a/b"})
    EXPECT_EQ(removalOf(root, name), "") << '"' << name << '"';
}

TEST(PackageRemoval, OnlyPlainPathsBelowFlashAreRemoved) {
  ScratchRoot root;
  root.write("etc/passwd", "x");
  root.write("flash/bin/tool", "x");
  const std::set<std::string> files = {
      "/etc/passwd", "/flash/../etc/passwd", "/flash/./bin/tool", "/flash//bin/tool",
      "/flash/bin/", "/flash/", "/flash", "flash/bin/tool",
      std::string("/flash/bin/tool\0/x", 18), "/flash/bin/tool"};
  EXPECT_EQ(removalOf(root, "forged", files), "U /flash/bin/tool\n");
}

}  // namespace
