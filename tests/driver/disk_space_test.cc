// The disk space check before an upgrade is applied: the bytes left on the kernel
// volume ("/flash/boot") and the system volume ("/flash"), counted on small tmpfs
// volumes mounted inside a scratch root (blocks of 4096 bytes), and the refusal of
// an upgrade that does not fit, by the real program.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "changes/change_set.h"
#include "driver/disk_space.h"
#include "support/console_text.h"
#include "support/scratch_root.h"
#include "support/signed_packages.h"

namespace {

constexpr Version final(unsigned major, unsigned minor) {
  return (major << 24) | (minor << 16) | ('f' << 8);
}

constexpr int64_t kBlock = 4096;
constexpr int64_t kReserve = 32768;
constexpr unsigned long kFlashSize = 16 * kBlock;
constexpr unsigned long kBootSize = 8 * kBlock;

constexpr char kNoMount[] = "mounting a tmpfs is not allowed here";

struct Step {
  std::string path;
  ChangeOp op;
  std::string argument;
};

// "/flash" holds two files of one block ("old" and "tmpA"), so 14 blocks are free;
// "/flash/boot", when mounted, has 8 free blocks; "/ram" lies on another file system.
TEST(DiskSpace, RoomLeftOnEachVolume) {
  const std::string small(1, 'x');
  const Step deleteOld{"/flash/old", ChangeOp::Delete, ""};
  const struct {
    const char* what;
    bool boot;
    std::vector<Step> steps;
    int64_t kernel, system;
  } cases[] = {
      {"nothing", true, {}, 8 * kBlock, 14 * kBlock},
      {"no kernel volume", false, {}, 0, 14 * kBlock},
      {"deletion", true, {deleteOld}, 8 * kBlock, 15 * kBlock},
      {"deletion of nothing", true, {{"/flash/none", ChangeOp::Delete, ""}}, 8 * kBlock,
       14 * kBlock},
      {"new file", true, {{"/flash/x", ChangeOp::MoveTemp, "/ram/one"}}, 8 * kBlock,
       13 * kBlock - kReserve},
      {"same-sized replacement, no reserve", true, {{"/flash/old", ChangeOp::Move, "/ram/one"}},
       8 * kBlock, 14 * kBlock},
      {"rename within /flash", true, {{"/flash/y", ChangeOp::MoveTemp, "/flash/tmpA"}},
       8 * kBlock, 14 * kBlock},
      {"link", true, {{"/flash/l", ChangeOp::Symlink, "/ram/big"}}, 8 * kBlock, 14 * kBlock},
      {"below /flash/boot: both volumes", true,
       {{"/flash/boot/k", ChangeOp::MoveTemp, "/ram/big"}}, 6 * kBlock - kReserve,
       12 * kBlock - kReserve},
      {"unexamined volume: bytes from nothing", false,
       {{"/flash/boot/k", ChangeOp::MoveTemp, "/ram/one"}}, -1 - kReserve,
       13 * kBlock - kReserve},
      {"net loss", true, {deleteOld, {"/flash/x", ChangeOp::MoveTemp, "/ram/big"}}, 8 * kBlock,
       13 * kBlock - kReserve},
  };
  for (const auto& c : cases) {
    ScratchRoot root;
    if (!root.mountTmpfs("flash", kFlashSize)) GTEST_SKIP() << kNoMount;
    if (c.boot && !root.mountTmpfs("flash/boot", kBootSize)) GTEST_SKIP() << kNoMount;
    root.write("flash/old", small);
    root.write("flash/tmpA", small);
    root.write("ram/one", small);
    root.write("ram/big", std::string(kBlock + 1, 'b'));
    EXPECT_TRUE(inRoot(root, [&] {
      ChangeSet changes;
      for (const Step& step : c.steps) changes.put(step.path, step.op, step.argument);
      const DiskRoom room = checkDiskSpace(changes);
      EXPECT_EQ(room.kernel, c.kernel) << c.what;
      EXPECT_EQ(room.system, c.system) << c.what;
      EXPECT_EQ(room.fits(), c.kernel >= 0 && c.system >= 0);
    }));
  }
}

// 2^32 free blocks do not fit a 32-bit count.
TEST(DiskSpace, CountsBeyondThirtyTwoBits) {
  ScratchRoot root;
  if (!root.mountTmpfs("flash", 16ull << 40)) GTEST_SKIP() << kNoMount;
  root.write("ram/one", "x");
  EXPECT_TRUE(inRoot(root, [] {
    ChangeSet changes;
    EXPECT_EQ(checkDiskSpace(changes).system, int64_t{1} << 44);
    changes.put("/flash/x", ChangeOp::MoveTemp, "/ram/one");
    EXPECT_EQ(checkDiskSpace(changes).system, (int64_t{1} << 44) - kBlock - kReserve);
  }));
}

PackageLayout package(const std::string& name, Version version,
                      const std::vector<std::pair<std::string, size_t>>& files) {
  std::vector<ContainerEntry> entries;
  for (const auto& [path, size] : files) entries.push_back({path, 0100644, std::string(size, 'k')});
  return packageLayout(name, version, entries);
}

// The upgrade is refused: status 28, the messages, and nothing else changed but the
// post-install log.
void expectNoRoom(const ScratchRoot& root, const std::string& messages) {
  const std::string before = treeSnapshot(root.path());
  const RunResult run = runInstaller(root, {});
  EXPECT_EQ(run.status, 28);
  EXPECT_EQ(splitConsole(run.out).lines, messages);
  EXPECT_EQ(root.read("flash/postlog"), messages);
  unlink(root.at("flash/postlog").c_str());
  EXPECT_EQ(treeSnapshot(root.path()), before);
  EXPECT_EQ(leftoverTemporaries(root.path()), std::vector<std::string>{});
}

// Every prepared file lies under "/ram"; the post-install log taken over holds one
// block of "/flash" when the check runs. kernel: 9 blocks on 8; system: 9 + 1 for
// the files, 1 for "version", 1 for "files", on 15.
TEST(DiskSpace, UpgradeThatDoesNotFitReportsTheKernelVolumeFirst) {
  ScratchRoot root;
  if (!root.mountTmpfs("flash", kFlashSize)) GTEST_SKIP() << kNoMount;
  if (!root.mountTmpfs("flash/boot", kBootSize)) GTEST_SKIP() << kNoMount;
  root.makeDirectory("flash/var/pdb");
  root.write("rw/pckg/.download/kernel.zpk",
             signedPackageFile(package("kernel", final(7, 2),
                                       {{"boot/vmlinuz", 8 * kBlock + 1}, {"bin/kinit", kBlock}})));
  expectNoRoom(root,
               "ERROR: upgrade failed, free 37 kB disk space for a kernel upgrade\n"
               "ERROR: upgrade failed, free 21 kB disk space for a upgrade\n");
}

// Without a kernel volume every byte moved below "/flash/boot" is short, with the
// reserve on top: a remainder below one kilobyte rounds up, a whole kilobyte adds one.
TEST(DiskSpace, ShortfallInKilobytes) {
  const struct {
    size_t bytes;
    int kilobytes;
  } cases[] = {{1, 33}, {1023, 33}, {1024, 34}};
  for (const auto& c : cases) {
    ScratchRoot root;
    if (!root.mountTmpfs("flash", kFlashSize)) GTEST_SKIP() << kNoMount;
    root.makeDirectory("flash/var/pdb");
    root.write("rw/pckg/.download/kernel.zpk",
               signedPackageFile(package("kernel", final(7, 2), {{"boot/vmlinuz", c.bytes}})));
    expectNoRoom(root, "ERROR: upgrade failed, free " + std::to_string(c.kilobytes) +
                           " kB disk space for a kernel upgrade\n");
  }
}

// ntp 6.42 is installed on a "/flash" left with four free blocks once the log is
// taken over: a same-sized ntp 6.43 fits (no reserve), one with another file does
// not, unless "--reinstall" skips the check.
TEST(DiskSpace, ReserveOnlyWhenTheRunConsumesSpace) {
  const struct {
    bool extraFile;
    std::vector<std::string> arguments;
    int status;
    std::string lines;
  } cases[] = {
      {false, {}, 0, "installed ntp-6.43\n"},
      {true, {}, 28, "ERROR: upgrade failed, free 21 kB disk space for a upgrade\n"},
      {true, {"--reinstall"}, 0, "\nResuming upgrade...\ninstalled ntp-6.43\n"},
  };
  for (const auto& c : cases) {
    ScratchRoot root;
    if (!root.mountTmpfs("flash", kFlashSize)) GTEST_SKIP() << kNoMount;
    root.write("flash/bin/ntpd", std::string(100, 'o'));
    root.write("flash/var/pdb/ntp/version", std::to_string(final(6, 42)) + " 1700000000\n");
    root.write("flash/var/pdb/ntp/deps", "");
    root.write("flash/var/pdb/ntp/files", "flash/bin/ntpd\n");
    root.write("flash/filler", std::string(8 * kBlock, 'f'));
    std::vector<std::pair<std::string, size_t>> files = {{"bin/ntpd", 100}};
    if (c.extraFile) files.push_back({"etc/ntp.conf", 100});
    root.write("rw/pckg/.download/ntp.zpk", signedPackageFile(package("ntp", final(6, 43), files)));
    const std::string before = treeSnapshot(root.at("flash"));
    const RunResult run = runInstaller(root, c.arguments);
    EXPECT_EQ(run.status, c.status) << c.lines;
    EXPECT_EQ(splitConsole(run.out).lines, c.lines);
    EXPECT_EQ(root.read("flash/var/pdb/ntp/version"),
              std::to_string(final(6, c.status == 0 ? 43 : 42)) + " 1700000000\n")
        << c.lines;
    EXPECT_EQ(root.exists("flash/etc/ntp.conf"), c.extraFile && c.status == 0);
    if (c.status != 0) {
      unlink(root.at("flash/postlog").c_str());
      EXPECT_EQ(treeSnapshot(root.at("flash")), before);
    }
  }
}

}  // namespace
