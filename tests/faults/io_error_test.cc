// Disk errors, injected by the interposer: the n-th write, close, rename or fsync of
// an install fails with EIO or ENOSPC, for every n the run makes. Where the install
// prepares its files the run refuses with the error's message and leaves the flash
// as it was; where the apply works it names the failed step on standard error and
// every entry holds its whole old or its whole new content. No temporary file stays.

#include <gtest/gtest.h>

#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "faults/fault_router.h"
#include "support/console_text.h"
#include "support/signed_packages.h"

namespace faults {
namespace {

constexpr Version kVersion = 7u << 24 | 2u << 16 | 'f' << 8;

// Kept whole as its image: the received file is the only copy of the package.
std::string keptWireless() {
  PackageLayout layout = packageLayout("wireless", kVersion, {{"bin/iw", 0100755, "iw"}});
  layout.hasPayload = true;
  layout.payload = noise(7, 200000);
  return signedPackageFile(layout);
}

// Blocks hello, which then goes in disabled, with a "disabled" state file.
std::string chrony() {
  PackageLayout layout = packageLayout("chrony", kVersion, {{"bin/chronyd", 0100755, "c"}});
  layout.meta.conflicts = {{"hello", 0, 0, 0}};
  return signedPackageFile(layout);
}

struct Injected {
  const char* calls;
  int error;
};
constexpr Injected kEveryCall[] = {
    {"write", EIO}, {"write", ENOSPC}, {"close", EIO}, {"rename", EIO}, {"fsync", EIO}};
constexpr Injected kWrites[] = {{"write", EIO}};

TEST(DiskErrors, EveryWriteCloseRenameAndSyncOfAnInstall) {
  const Invocation upgrade;
  const struct {
    const char* name;  // of the package in messages
    std::vector<std::string> installed;
    std::string file;
    bool fromStdin;
    unsigned long flashFree;  // blocks: 8 take no temporary file, so the apply copies
    std::span<const Injected> faults;
  } cases[] = {
      {"hello-6.43", {olderHello()}, newerHello(), true, kNoLimit, kEveryCall},
      {"hello-6.43", {olderHello()}, newerHello(), true, 8, kEveryCall},
      {"hello-6.43", {olderHello()}, newerHello(), false, kNoLimit, kEveryCall},
      {"hello-6.43", {olderHello()}, newerHello(), false, 8, kEveryCall},
      {"wireless-7.2", {}, keptWireless(), true, kNoLimit, kWrites},
      {"hello-6.43", {chrony()}, newerHello(), true, kNoLimit, kWrites},
  };
  for (const auto& c : cases) {
    ScratchRoot base;
    installAll(base, c.installed);
    if (!c.fromStdin) offer(base, c.file);
    const Invocation invocation = c.fromStdin ? standardInput(c.file) : upgrade;
    ScratchRoot root;
    if (!resetRoot(root, base, c.flashFree)) GTEST_SKIP() << kNoMount;
    const Tree older = flashTree(root);
    const RunResult whole = runWithFault(root, invocation);
    ASSERT_EQ(whole.status, 0);
    const Tree newer = flashTree(root);
    for (const Injected& injected : c.faults) {
      const std::string reason = strerror(injected.error);
      const std::string refused = std::string("ERROR: installation of ") + c.name + " failed: " +
                                  (injected.error == EIO ? "disk error\n" : "disk is too small\n");
      resetRoot(root, base, c.flashFree);
      const unsigned long calls = countCalls(root, invocation, {injected.calls});
      for (unsigned long n = 1; n <= calls; ++n) {
        resetRoot(root, base, c.flashFree);
        const RunResult run =
            runWithFault(root, invocation, {injected.calls, n, std::to_string(injected.error)});
        const std::string lines = splitConsole(run.out).lines;
        const Tree tree = flashTree(root);
        const std::string where = std::string(c.name) + (c.fromStdin ? " on stdin, " : ", ") +
                                  std::to_string(c.flashFree) + " free, " + injected.calls +
                                  " " + reason + " at " + std::to_string(n) + ": " + lines +
                                  run.err;
        if (lines == refused) {
          EXPECT_EQ(run.status, c.fromStdin ? 1 : 0) << where;
          EXPECT_EQ(firstDifference(tree, older), "") << where;
        } else {
          EXPECT_EQ(run.status, 0) << where;
          EXPECT_EQ(lines, splitConsole(whole.out).lines) << where;
          EXPECT_TRUE(run.err == "" || run.err == "rename: " + reason + "\n" ||
                      run.err == "copy: " + reason + "\n")
              << where;
          EXPECT_EQ(run.err.empty() ? firstDifference(tree, newer) : "", "") << where;
          EXPECT_EQ(mixedEntry(tree, older, newer), "") << where;
        }
        EXPECT_EQ(temporaries(root), std::vector<std::string>{}) << where;
      }
    }
  }
}

}  // namespace
}  // namespace faults
