// Hostile package files and router roots, as whole-program runs of the installer:
// each is refused with its message or handled, in bounded time and memory, and
// nothing of the root outside "/flash" changes, nor anything beside the root.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>

#include "hostile/hostile_support.h"
#include "support/console_text.h"
#include "support/signed_packages.h"

namespace {

constexpr Version kOld = 0x062A6600;  // 6.42

// A router root inside a watched directory: the installer is given fence/router, so
// that a write beside the root shows as well. An installed package "base" keeps the
// installed set from ever running empty.
struct FencedRouter {
  FencedRouter() {
    fence.makeDirectory("router/ram");
    fence.makeDirectory("router/rw/pckg/.download");
    fence.write("router/etc/passwd", "root:x:0:0\n");
    entry("base", "");
  }
  std::string at(const std::string& relative) const { return fence.at("router/" + relative); }
  void entry(const std::string& name, const std::string& files) const {
    for (const auto& [file, text] : {std::pair{"version", std::to_string(kOld) + " 1700000000\n"},
                                     {"deps", ""}, {"files", files}})
      fence.write("router/flash/var/pdb/" + name + "/" + file, text);
  }
  RunResult run(std::vector<std::string> arguments, const std::string& stdinData = "") const {
    arguments.insert(arguments.begin(), {INSTALLER_BINARY, "-r", fence.at("router")});
    return bounded(arguments, stdinData);
  }
  std::string snapshot() const { return treeSnapshot(fence.path()); }
  // The snapshot but what lies below router/flash/.
  static std::string outsideFlash(const std::string& snapshot) {
    std::istringstream lines(snapshot);
    std::string kept;
    for (std::string line; std::getline(lines, line);)
      if (line.rfind("/router/flash/", 0) != 0) kept += line + "\n";
    return kept;
  }
  // Runs the installer on file, through standard input or as the one download of an
  // upgrade run (which ends with status 0 whatever it installed). A refused file
  // leaves the tree as it was, but for the message lines in the post-install log.
  void expect(const std::string& file, bool upgrade, int status, const std::string& lines) const {
    if (upgrade) fence.write("router/rw/pckg/.download/p.zpk", file);
    const std::string before = snapshot();
    const RunResult run = upgrade ? this->run({}) : this->run({"-"}, file);
    EXPECT_EQ(run.status, upgrade ? 0 : status) << lines << run.err;
    EXPECT_EQ(splitConsole(run.out).lines, lines);
    EXPECT_EQ(readFile(at("flash/postlog")), lines);
    unlink(at("flash/postlog").c_str());
    const std::string after = snapshot();
    if (status != 0) {
      EXPECT_EQ(after, before) << lines;
    }
    EXPECT_EQ(outsideFlash(after), outsideFlash(before)) << lines;
    EXPECT_EQ(leftoverTemporaries(fence.path()), std::vector<std::string>{}) << lines;
  }
  ScratchRoot fence;
};

std::string withEntry(const std::string& name) {
  return signedPackageFile(packageLayout("p", kOld, {{name, 0100644, "x"}}));
}
std::string named(const std::string& name) {
  return signedPackageFile(packageLayout(name, kOld, {{"bin/p", 0100755, "p"}}));
}
// The file with the length word of its file container part (after a 36-byte header
// record) replaced.
std::string containerLength(std::string file, uint32_t length) {
  writeLe32(reinterpret_cast<uint8_t*>(file.data()) + kFileHeaderSize + kPartHeaderSize + 38,
            length);
  return file;
}
std::string failed(const std::string& name, const std::string& why) {
  return "ERROR: " + ("installation of " + name + " failed: " + why).substr(0, 255) + "\n";
}

TEST(HostilePackage, RefusedOrKeptInsideTheFlash) {
  const std::string broken = failed("p-6.42", "broken package");
  const std::string longName(65535, 'n');
  std::string deepPath;
  while (deepPath.size() < 65533) deepPath += "d/";
  PartWriter table;  // a dependency table that claims 65,535 entries and holds none
  table.part(PackageHeaderPart, encodeHeaderRecord(packageLayout("p", kOld).meta, true));
  table.part(DependenciesPart, std::string("\xff\xff", 2));
  table.part(FileContainerPart, deflateBytes(""));
  std::string tableFile = table.file(kPackageMagic);
  signPackageFile(tableFile, developmentKeys(), {});
  const struct {
    std::string file;
    int status;
    std::string viaStdin, viaUpgrade;  // the message lines; the upgrade's when different
  } cases[] = {
      {withEntry("../../etc/passwd"), 1, broken, ""},
      {withEntry("bin/../../../etc/passwd"), 1, broken, ""},
      {withEntry("bin/a\nb"), 1, broken, ""},
      {withEntry(longName), 1, failed("p-6.42", "could not create " + longName), ""},
      {withEntry(deepPath + "f"), 1, failed("p-6.42", "could not create " + deepPath), ""},
      {named(".."), 1, failed("..-6.42", "broken package"), ""},
      {named("a/b"), 1, failed("a/b-6.42", "broken package"), ""},
      {named("a\x1b[2J"), 1, failed("a\\x1b[2J-6.42", "broken package"), ""},
      {tableFile, 1, "", "ERROR: broken package p.zpk\n"},
      {containerLength(withEntry("bin/p"), 1 << 20), 1, broken, ""},  // past the end
      {containerLength(withEntry("bin/p"), 0xFFFFFFF0), 1, broken, ""},  // past 32 bits
      // An absolute name is taken inside the flash.
      {withEntry("/etc/passwd"), 0, "", "installed p-6.42\n"},
  };
  for (const auto& c : cases) {
    for (const bool upgrade : {false, true}) {
      FencedRouter router;
      router.expect(c.file, upgrade, c.status,
                    upgrade && !c.viaUpgrade.empty() ? c.viaUpgrade : c.viaStdin);
      if (c.status == 0) {
        EXPECT_EQ(readFile(router.at("flash/etc/passwd")), "x");
      }
    }
  }
}

// Ten GiB of zeros in a signed package: only the disk stops it, a few MiB in.
TEST(HostilePackage, TenGibibytesOfZerosEndAtTheFullDisk) {
  ZeroStream container;
  for (const char* name : {"z0", "z1", "z2", "z3", "z4", "z5", "z6", "z7", "z8", "z9"}) {
    container.bytes(entryHead(name, 1u << 30));
    container.zeros(uint64_t{1} << 30);
  }
  const std::string file = signedWithContainer(container.finish(), "big");
  for (const bool upgrade : {false, true}) {
    FencedRouter router;
    // Temporary files of a size the flash has no room for go to /ram.
    if (!router.fence.mountTmpfs("router/flash", 4 << 20) ||
        !router.fence.mountTmpfs("router/ram", 4 << 20))
      GTEST_SKIP() << "mounting a tmpfs is not allowed here";
    router.entry("base", "");
    router.expect(file, upgrade, 1, failed("big-6.42", "disk is too small"));
  }
}

// A kept image that is a FIFO or a directory is passed over: the run neither waits
// for a writer nor fails, and the package is still known from its database entry.
TEST(HostileRoot, KeptImageThatIsNoFile) {
  for (const char* image : {"flash/var/pdb/x/image", "rw/pckg/.images/x"}) {
    for (const bool fifo : {true, false}) {
      FencedRouter router;
      router.entry("x", "flash/bin/x\n");
      router.fence.makeDirectory("router/rw/pckg/.images");
      if (fifo)
        ASSERT_EQ(mkfifo(router.at(image).c_str(), 0600), 0);
      else
        router.fence.makeDirectory("router/" + std::string(image));
      EXPECT_NE(router.run({"--show"}).out.find("\nx    "), std::string::npos) << image;
      router.fence.write("router/rw/pckg/.download/x.zpk",
                         signedPackageFile(packageLayout("x", kOld + 1, {{"bin/x", 0100755, "1"}})));
      EXPECT_EQ(splitConsole(router.run({}).out).lines, "installed x-6.42.1\n");
      EXPECT_EQ(readFile(router.at("flash/bin/x")), "1") << image;
      unlink(router.at(image).c_str());  // a snapshot would wait on the FIFO
    }
  }
}

// A symbolic link inside the flash that leads out of it carries neither a package's
// files nor their temporary files outside.
TEST(HostileRoot, LinksOutOfTheFlash) {
  for (const char* target : {"/etc", "../etc"}) {
    FencedRouter router;
    ASSERT_EQ(symlink(target, router.at("flash/lnk").c_str()), 0);
    router.expect(withEntry("lnk/passwd"), false, 1,
                  failed("p-6.42", "could not create lnk/passwd: Operation not permitted"));
  }
}

// Uninstalling a package whose file list names paths outside the flash deletes only
// its own files.
TEST(HostileRoot, UninstallDeletesNothingOutsideTheFlash) {
  FencedRouter router;
  router.fence.write("router/flash/own", "own");
  router.entry("x", "../../etc/passwd\netc/passwd\n/etc/passwd\nflash/../etc/passwd\n"
                    "/flash/x/../../etc/passwd\n/flash/\n/flash\nflash/own\n");
  router.fence.write("router/ram/pdb/x/schedule", "uninstall\n");
  const std::string before = router.snapshot();
  EXPECT_EQ(router.run({}).status, 0);
  EXPECT_EQ(FencedRouter::outsideFlash(router.snapshot()), FencedRouter::outsideFlash(before));
  EXPECT_FALSE(router.fence.exists("router/flash/own"));
  EXPECT_FALSE(router.fence.exists("router/flash/var/pdb/x"));
}


// A bundle of 10,000 members without files: installed whole, in bounded time and
// memory, each member known afterwards. (Each member is signed with the older
// scheme, which takes the sanitizer build minutes for 10,000: it makes 1,000.)
TEST(HostilePackage, BundleOfTenThousandEmptyMembers) {
#if defined(__SANITIZE_ADDRESS__)
  constexpr int kMembers = 1000;
#else
  constexpr int kMembers = 10000;
#endif
  std::vector<PackageLayout> members;
  for (int n = 0; n < kMembers; ++n) {
    char name[16];
    snprintf(name, sizeof name, "m%05d", n);
    members.push_back(packageLayout(name, kOld));
  }
  const std::string file = signedBundleFile(bundleLayout("many", kOld, std::move(members)));
  FencedRouter router;
  router.expect(file, false, 0, "");
  const std::string listing = router.run({"--show"}).out;
  char last[16];
  snprintf(last, sizeof last, "\nm%05d ", kMembers - 1);
  EXPECT_NE(listing.find(last), std::string::npos);
}

}  // namespace
