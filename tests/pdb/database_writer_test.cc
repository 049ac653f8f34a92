#include "pdb/database_writer.h"

#include <gtest/gtest.h>

#include "changes/change_set.h"
#include "support/console_capture.h"
#include "support/scratch_root.h"

namespace {

// Runs the writer inside root: "ok" or "failed", each change of the package directory
// in key order ("+name[content]" for a created file, "-name" for a deletion), then the
// console.
std::string written(const ScratchRoot& root, InstalledPackage package) {
  EXPECT_TRUE(inRoot(root, [&] {
    freshRepository();
    ChangeSet changes;
    ConsoleCapture console;
    std::string text = writeDatabaseEntry(package, changes) ? "ok " : "failed ";
    for (const auto& [path, change] : changes.entries()) {
      const bool deleted = change.op == ChangeOp::Delete;
      text.append(deleted ? "-" : "+").append(path, path.rfind('/') + 1);
      if (!deleted) text.append("[").append(readFile(change.argument)).append("]");
    }
    writeFile("/result", text + console.text());
  }));
  return root.read("result");
}

InstalledPackage package(const std::string& name = "pkg", uint32_t flags = 0) {
  InstalledPackage record(name);
  record.version = 3;
  record.buildTime = 7;
  record.flags = flags;
  return record;
}

TEST(DatabaseWriter, FilesAreByteExactAndNoneOfAnEarlierVersionIsLeft) {
  ScratchRoot root;
  InstalledPackage full = package();
  full.dependencies = {{"system", 0x06000000, 0, 5}, {"dhcp", 1, 2, 0}};
  full.provides = {{"ntp", 1, 0xFFFFFFFF, -1}};
  full.conflicts = full.provides;
  full.bundle = {"core", 9, 9, 0};
  full.files = {"/bin/a", "bin/b", "", "/"};
  full.userChosen = true;
  EXPECT_EQ(written(root, full),
            "ok +bundle[core\n]+conflicts[ntp 1 4294967295\n]"
            "+deps[system 100663296 0\ndhcp 1 2\n]+enabled[user\n]+files[bin/a\nbin/b\n]"
            "+provides[ntp 1 4294967295 -1\n]+version[3 7\n]");
  for (const char* file : {"provides", "conflicts", "bundle", "disabled", "enabled", "files"})
    root.write(std::string("flash/var/pdb/pkg/") + file, "old\n");
  InstalledPackage bundle = package();
  bundle.isBundle = bundle.disabled = true;
  EXPECT_EQ(written(root, bundle),
            "ok -bundle-conflicts+deps[]+disabled[auto\n]-enabled-files-provides+version[3 7\n]");
  // An entry that keeps only its state writes nothing else.
  InstalledPackage stateOnly = package("pkg", STATE_ONLY | BOOT_PACKAGE);
  stateOnly.disabled = stateOnly.userChosen = true;
  EXPECT_EQ(written(root, stateOnly), "ok +disabled[user\n]-enabled");
  stateOnly.flags = 0;
  stateOnly.hasOpaquePayload = true;
  EXPECT_EQ(written(root, stateOnly), "ok +disabled[user\n]-enabled");
}

// An unsafe name is refused under the first file the entry would write; a full disk
// stops the entry at the failed file.
TEST(DatabaseWriter, RefusedAndFailedEntriesAreReported) {
  ScratchRoot root;
  for (const auto& [name, flags] : {std::pair<const char*, uint32_t>{"", 0}, {"..", STATE_ONLY}})
    EXPECT_EQ(written(root, package(name, flags)),
              "failed ERROR: installation of " + std::string(name) + "-0.03 failed: could not " +
                  "create meta/" + (flags ? "enabled" : "version") + ": Invalid argument\n");
  if (!root.mountTmpfs("flash", 256 << 10)) GTEST_SKIP() << "cannot mount a tmpfs here";
  InstalledPackage big = package();
  big.disabled = true;
  for (int i = 0; i < 20000; ++i) big.files.insert("/flash/lib/module-" + std::to_string(i));
  const std::string result = written(root, big);
  const size_t cut = result.find("+files[") + 7, end = result.rfind("]+version");
  EXPECT_EQ(result.substr(0, cut) + result.substr(end), "failed +deps[]+files[]+version[3 7\n]"
            "ERROR: installation of pkg-0.03 failed: disk is too small\n");
}

}  // namespace
