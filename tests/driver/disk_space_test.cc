// The disk space check before an upgrade is applied: the bytes left on the kernel
// volume ("/flash/boot") and the system volume ("/flash"), counted on small tmpfs
// volumes mounted inside a scratch root (blocks of 4096 bytes), and the refusal of
// an upgrade that does not fit, by the real program.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "changes/change_set.h"
#include "driver/disk_space.h"
#include "support/console_text.h"
#include "support/package_records.h"
#include "support/scratch_root.h"
#include "support/signed_packages.h"

namespace {

constexpr int64_t kBlock = 4096;
constexpr int64_t kReserve = 32768;
constexpr unsigned long kFlashSize = 16 * kBlock;
constexpr unsigned long kBootSize = 8 * kBlock;

constexpr char kNoMount[] = "mounting a tmpfs is not allowed here";

using Step = std::tuple<std::string, ChangeOp, std::string>;

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
      for (const auto& [path, op, argument] : c.steps) changes.put(path, op, argument);
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

// Upgrades by the real program. kernel: a kernel package; every prepared file lies
// under "/ram", and the post-install log taken over holds one block of "/flash" when
// the check runs. With a kernel volume: 9 blocks on 8, and on "/flash" 9 + 1 for the
// files, 1 for "version", 1 for "files", on 15; the kernel volume is reported first.
// Without one, every byte moved below "/flash/boot" is short, with the reserve on
// top: a remainder below one kilobyte rounds up, a whole kilobyte adds one.
// ntp: ntp 6.42 is installed on a "/flash" left with four free blocks once the log is
// taken over: a same-sized ntp 6.43 fits (no reserve), one with another file does
// not, unless "--reinstall" skips the check.
TEST(DiskSpace, UpgradesThatDoNotFitAreRefused) {
  const auto kernel = [](std::vector<std::pair<std::string, size_t>> files) {
    return package("kernel", release(7, 2), files);
  };
  const auto ntp = [](bool extraFile) {
    std::vector<std::pair<std::string, size_t>> files = {{"bin/ntpd", 100}};
    if (extraFile) files.push_back({"etc/ntp.conf", 100});
    return package("ntp", release(6, 43), files);
  };
  const std::string kUpgrade = "ERROR: upgrade failed, free 21 kB disk space for a upgrade\n";
  const auto kernelShort = [](int kilobytes) {
    return "ERROR: upgrade failed, free " + std::to_string(kilobytes) +
           " kB disk space for a kernel upgrade\n";
  };
  // Kernel volume, ntp installed, offered, arguments, status, lines.
  using Arguments = std::vector<std::string>;
  const std::tuple<bool, bool, PackageLayout, Arguments, int, std::string> cases[] = {
      {true, false, kernel({{"boot/vmlinuz", 8 * kBlock + 1}, {"bin/kinit", kBlock}}), {}, 28,
       kernelShort(37) + kUpgrade},
      {false, false, kernel({{"boot/vmlinuz", 1}}), {}, 28, kernelShort(33)},
      {false, false, kernel({{"boot/vmlinuz", 1023}}), {}, 28, kernelShort(33)},
      {false, false, kernel({{"boot/vmlinuz", 1024}}), {}, 28, kernelShort(34)},
      {false, true, ntp(false), {}, 0, "installed ntp-6.43\n"},
      {false, true, ntp(true), {}, 28, kUpgrade},
      {false, true, ntp(true), {"--reinstall"}, 0, "\nResuming upgrade...\ninstalled ntp-6.43\n"}};
  for (const auto& [kernelVolume, ntpInstalled, offered, arguments, status, lines] : cases) {
    ScratchRoot root;
    if (!root.mountTmpfs("flash", kFlashSize)) GTEST_SKIP() << kNoMount;
    if (kernelVolume && !root.mountTmpfs("flash/boot", kBootSize)) GTEST_SKIP() << kNoMount;
    root.makeDirectory("flash/var/pdb");
    if (ntpInstalled) {
      root.write("flash/bin/ntpd", std::string(100, 'o'));
      writeEntry(root, "ntp", release(6, 42), {{"files", "flash/bin/ntpd\n"}});
      root.write("flash/filler", std::string(8 * kBlock, 'f'));
    }
    root.write("rw/pckg/.download/offered.zpk", signedPackageFile(offered));
    if (status != 0) {
      expectUnchangedRun(root, arguments, status, lines);
      continue;
    }
    const RunResult run = runInstaller(root, arguments);
    EXPECT_EQ(run.status, 0) << lines;
    EXPECT_EQ(splitConsole(run.out).lines, lines);
    EXPECT_EQ(root.read("flash/var/pdb/ntp/version"),
              std::to_string(release(6, 43)) + " 1700000000\n");
    EXPECT_EQ(root.exists("flash/etc/ntp.conf"), offered.files.size() == 2);
  }
}

}  // namespace
