#include "pdb/database_writer.h"

#include <gtest/gtest.h>

#include "changes/change_set.h"
#include "support/console_capture.h"
#include "support/scratch_root.h"

namespace {

// Runs the writer inside root. The result reads "ok" or "failed", the console, then
// each change of the package directory in key order: "+name[content]" for a
// created file, "-name" for a deletion.
std::string written(const ScratchRoot& root, InstalledPackage package) {
  EXPECT_TRUE(inRoot(root, [&] {
    freshRepository();
    ChangeSet changes;
    ConsoleCapture console;
    std::string text = writeDatabaseEntry(package, changes) ? "ok " : "failed ";
    text += console.text();
    for (const auto& [path, change] : changes.entries()) {
      const std::string name = path.substr(path.find_last_of('/') + 1);
      text += change.op == Delete ? "-" + name : "+" + name + "[" + readFile(change.argument) + "]";
    }
    changes.discard();
    writeFile("/result", text);
  }));
  return root.read("result");
}

InstalledPackage package(const std::string& name = "pkg") {
  InstalledPackage record(name);
  record.version = 3;
  record.buildTime = 7;
  return record;
}

TEST(DatabaseWriter, FullEntryIsByteExact) {
  ScratchRoot root;
  InstalledPackage full = package();
  full.dependencies = {{"system", 0x06000000, 0, 5}, {"dhcp", 1, 2, 0}};
  full.provides = {{"ntp", 1, 0xFFFFFFFF, -1}};
  full.conflicts = full.provides;
  full.bundle = {"routeros", 9, 9, 0};
  full.files = {"/bin/a", "bin/b", "", "/"};
  full.userChosen = true;
  EXPECT_EQ(written(root, full),
            "ok +bundle[routeros\n]+conflicts[ntp 1 4294967295\n]"
            "+deps[system 100663296 0\ndhcp 1 2\n]+enabled[user\n]+files[bin/a\nbin/b\n]"
            "+provides[ntp 1 4294967295 -1\n]+version[3 7\n]");
}

TEST(DatabaseWriter, EmptyListsStateAndBundleRemoveWhatAnEarlierVersionLeft) {
  ScratchRoot root;
  EXPECT_EQ(written(root, package()), "ok +deps[]+files[]+version[3 7\n]");
  for (const char* file : {"provides", "conflicts", "bundle", "disabled", "enabled", "files"})
    root.write(std::string("flash/var/pdb/pkg/") + file, "old\n");
  EXPECT_EQ(written(root, package()),
            "ok -bundle-conflicts+deps[]-disabled-enabled+files[]-provides+version[3 7\n]");
  InstalledPackage bundle = package();
  bundle.isBundle = true;
  bundle.disabled = true;
  EXPECT_EQ(written(root, bundle),
            "ok -bundle-conflicts+deps[]+disabled[auto\n]-enabled-files-provides+version[3 7\n]");
}

TEST(DatabaseWriter, StateOnlyEntriesWriteOnlyTheStateFiles) {
  ScratchRoot root;
  root.write("flash/var/pdb/pkg/enabled", "user\n");
  InstalledPackage stateOnly = package();
  stateOnly.flags = STATE_ONLY | BOOT_PACKAGE;
  stateOnly.dependencies = {{"system", 1, 0, 0}};
  stateOnly.disabled = stateOnly.userChosen = true;
  EXPECT_EQ(written(root, stateOnly), "ok +disabled[user\n]-enabled");
  stateOnly.flags = 0;
  stateOnly.hasOpaquePayload = true;
  EXPECT_EQ(written(root, stateOnly), "ok +disabled[user\n]-enabled");
}

TEST(DatabaseWriter, RefusedAndFailedEntriesAreReported) {
  ScratchRoot root;
  root.write("flash/var/pdb/version", "1 1\n");  // where an empty name would write
  for (const char* name : {"", ".", "..", "a/b"})
    EXPECT_EQ(written(root, package(name)),
              "failed ERROR: installation of " + std::string(name) +
                  "-0.03 failed: could not create meta/version: Invalid argument\n");
  InstalledPackage stateOnly = package("..");
  stateOnly.flags = STATE_ONLY;
  EXPECT_EQ(written(root, stateOnly),
            "failed ERROR: installation of ..-0.03 failed: could not create meta/enabled: "
            "Invalid argument\n");

  ScratchRoot noDirectory;
  noDirectory.write("flash/var", "");  // no temporary file can be made below a plain file
  InstalledPackage member = package();
  member.bundle = {"routeros", 0x062A6600, 0x062A6600, 0};
  EXPECT_EQ(written(noDirectory, member),
            "failed ERROR: installation of routeros-6.42 failed: could not create "
            "meta/version: Not a directory\n");
}

TEST(DatabaseWriter, FullDiskWhileWritingFilesRecordsNoStateFiles) {
  ScratchRoot root;
  if (!root.mountTmpfs("flash", 256 * 1024)) GTEST_SKIP() << "cannot mount a tmpfs here";
  InstalledPackage big = package();
  big.disabled = big.userChosen = true;
  for (int i = 0; i < 20000; ++i) big.files.insert("/flash/lib/module-" + std::to_string(i));
  const std::string result = written(root, big);
  EXPECT_EQ(result.substr(0, result.find("+files[")),
            "failed ERROR: installation of pkg-0.03 failed: disk is too small\n+deps[]");
  EXPECT_EQ(result.substr(result.size() - 14), "+version[3 7\n]");
  EXPECT_EQ(result.find("disabled"), std::string::npos);
  EXPECT_EQ(result.find("enabled"), std::string::npos);
}

}  // namespace
