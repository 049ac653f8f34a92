// The upgrade run ("installer -r ROOT" without a mode) as whole-program runs on
// scratch router roots: which package files it takes, what it installs, what an
// abandoned upgrade leaves (nothing but the post-install log), the hand-off to the
// boot stage, and the deferred apply through "--safe", "--commit" and "--cancel".

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/console_text.h"
#include "support/scratch_root.h"
#include "support/signed_packages.h"

namespace {

constexpr Version final(unsigned major, unsigned minor) {
  return (major << 24) | (minor << 16) | ('f' << 8);
}

const std::string kDownload = "rw/pckg/.download/";
const std::string kFlashRw = "flash/rw/pckg/";
const std::string kFlashVar = "flash/var/pckg/";

PackageLayout package(const std::string& name, Version version, const std::string& text = "") {
  return packageLayout(name, version, {{"bin/" + name, 0100755, text.empty() ? name : text}});
}

PackageLayout withPayload(PackageLayout layout, uint32_t flags = 0) {
  layout.meta.flags = flags;
  layout.hasPayload = true;
  layout.payload = std::string(20000, 'w');
  return layout;
}

BundleLayout coreBundle(Version version, const std::vector<std::string>& members) {
  BundleLayout bundle;
  bundle.meta.name = "core";
  bundle.meta.version = version;
  bundle.meta.buildTime = 1700000000;
  for (const std::string& name : members) bundle.members.push_back(package(name, version));
  return bundle;
}

struct Router {
  Router() { root.makeDirectory("flash/var/pdb"); }

  // A database entry as an earlier run left it; lists in the database's text form,
  // disabled "user" or "auto", enabled "user".
  void entry(const std::string& name, Version version, const std::string& deps = "",
             const std::string& provides = "", const std::string& disabled = "",
             const std::string& enabled = "") const {
    const std::string dir = "flash/var/pdb/" + name + "/";
    root.write(dir + "version", std::to_string(version) + " 1700000000\n");
    root.write(dir + "deps", deps);
    root.write(dir + "files", "");
    if (!provides.empty()) root.write(dir + "provides", provides);
    if (!disabled.empty()) root.write(dir + "disabled", disabled + "\n");
    if (!enabled.empty()) root.write(dir + "enabled", enabled + "\n");
  }

  // Installs file through "installer -" and forgets the marker and the log.
  void installed(const std::string& file) const {
    EXPECT_EQ(runInstaller(root, {"-"}, file).status, 0);
    unlink(root.at("flash/PCKGS_CHANGED").c_str());
    unlink(root.at("flash/postlog").c_str());
  }

  std::string offer(const std::string& directory, const std::string& file,
                    const std::string& name) const {
    root.write(directory + name + ".zpk", file);
    return file;
  }
  std::string offer(const std::string& directory, const PackageLayout& layout) const {
    return offer(directory, signedPackageFile(layout),
                 layout.meta.name + "-" + versionText(layout.meta.version));
  }

  void probe() const { root.write("flash/bin/vemo", readFile(VEMO_PROBE_BINARY), 0755); }

  RunResult upgrade(const std::vector<std::string>& arguments = {},
                    const std::vector<std::string>& environment = {}) const {
    return runInstaller(root, arguments, "", environment);
  }

  // The upgrade is given up: status 0, the message, and a tree that is what it was
  // but for the message kept in the post-install log.
  void expectAbandoned(const std::string& message) const {
    const std::string before = treeSnapshot(root.path());
    const RunResult run = upgrade();
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(splitConsole(run.out).lines, message);
    EXPECT_EQ(root.read("flash/postlog"), message);
    unlink(root.at("flash/postlog").c_str());
    EXPECT_EQ(treeSnapshot(root.path()), before) << message;
    EXPECT_EQ(leftoverTemporaries(root.path()), std::vector<std::string>{}) << message;
  }

  // The installed version of name as its database entry says.
  Version version(const std::string& name) const {
    return std::strtoul(root.read("flash/var/pdb/" + name + "/version").c_str(), nullptr, 10);
  }

  // The directories an install may change.
  std::string liveTree() const {
    return treeSnapshot(root.at("flash")) + "--\n" + treeSnapshot(root.at("rw"));
  }

  ScratchRoot root;
};

// Schedule changes entered before the planning go with the abandoned upgrade too.
TEST(UpgradeRun, RefusedCandidateAbandonsEverything) {
  Router router;
  router.entry("ntp", final(6, 45));
  router.entry("dhcp", final(6, 42));
  router.entry("ppp", final(6, 42));
  router.root.write("ram/pdb/ppp/schedule", "disable\n");
  router.offer(kDownload, package("dhcp", final(6, 43)));
  // Needing dhcp, ntp comes second: dhcp is in the set when ntp is refused.
  PackageLayout ntp = package("ntp", final(6, 41));
  ntp.meta.dependencies = {{"dhcp", 0, 0, 0}};
  router.offer(kDownload, ntp);
  router.expectAbandoned(
      "disabled ppp-6.42\n"
      "WARNING: omitting package ntp-6.41: newer package ntp-6.45 is already installed\n");
}

TEST(UpgradeRun, InstalledSetEndingEmptyFails) {
  Router router;
  router.expectAbandoned("ERROR: router installation failed!!!\n");
}

// "/ram/DOWNGRADE" allows going back, to the oldest candidate at or above its floor;
// ntp 6.45 is installed, 6.39 and 6.41 are offered.
TEST(UpgradeRun, DowngradeFloor) {
  const std::string floor640 = std::to_string(final(6, 40));
  const struct {
    bool marked;
    std::string marker;
    std::string lines;
    Version result;
  } cases[] = {
      {true, floor640, "WARNING: ommitting package ntp-6.39: not allowed\ninstalled ntp-6.41\n",
       final(6, 41)},
      {true, "", "WARNING: omitting package ntp-6.41: older package is already provided\n"
                 "installed ntp-6.39\n", final(6, 39)},
      {true, "0", "WARNING: omitting package ntp-6.41: older package is already provided\n"
                  "installed ntp-6.39\n", final(6, 39)},
      // Without the marker the newest wins, and is older than the installed one.
      {false, "", "WARNING: omitting package ntp-6.39: newer package is already provided\n"
       "WARNING: omitting package ntp-6.41: newer package ntp-6.45 is already installed\n",
       final(6, 45)},
  };
  for (const auto& c : cases) {
    Router router;
    router.entry("ntp", final(6, 45));
    if (c.marked) router.root.write("ram/DOWNGRADE", c.marker);
    router.offer(kDownload, package("ntp", final(6, 39)));
    router.offer(kDownload, package("ntp", final(6, 41)));
    const RunResult run = router.upgrade();
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(splitConsole(run.out).lines, c.lines);
    EXPECT_EQ(router.version("ntp"), c.result) << c.lines;
  }
}

// The first directory that holds package files is the only one looked at; the
// IGNORE marker takes the download directory out of the search.
TEST(UpgradeRun, FirstDirectoryWithPackageFiles) {
  const struct {
    std::vector<std::string> filled;
    bool ignore;
    std::string installed;
  } cases[] = {
      {{kDownload, kFlashRw, kFlashVar}, false, "ntp"},
      {{kFlashRw, kFlashVar}, false, "dhcp"},
      {{kFlashVar}, false, "ppp"},
      {{kDownload, kFlashRw}, true, "dhcp"},
      {{kDownload, kFlashVar}, true, "ppp"},
  };
  for (const auto& c : cases) {
    Router router;
    for (const char* name : {"ntp", "dhcp", "ppp"}) router.entry(name, final(6, 42));
    for (const std::string& directory : c.filled) {
      const char* name = directory == kDownload ? "ntp" : directory == kFlashRw ? "dhcp" : "ppp";
      router.offer(directory, package(name, final(6, 43)));
    }
    if (c.ignore) router.root.write(kDownload + "IGNORE", "");
    const RunResult run = router.upgrade();
    EXPECT_EQ(splitConsole(run.out).lines, "installed " + c.installed + "-6.43\n");
    for (const char* name : {"ntp", "dhcp", "ppp"})
      EXPECT_EQ(router.version(name), final(6, name == c.installed ? 43 : 42)) << name;
  }
}

// ntp 6.43 no longer provides what ntp 6.42 did; the disabled chrony provides it too.
TEST(UpgradeRun, NameLeftToADisabledPackageEnablesIt) {
  const struct {
    std::string provides;
    bool newNtpConflicts;
    std::string lines;
  } cases[] = {
      {"time 0 0 0\n", false, "enabled chrony-6.42\ninstalled ntp-6.43\n"},
      // Answering two names, it is enabled once.
      {"clock 0 0 0\ntime 0 0 0\n", false, "enabled chrony-6.42\ninstalled ntp-6.43\n"},
      {"time 0 0 0\n", true, "installed ntp-6.43\n"},
  };
  for (const auto& c : cases) {
    Router router;
    router.entry("ntp", final(6, 42), "", c.provides);
    router.entry("chrony", final(6, 42), "", c.provides, "auto");
    PackageLayout ntp = package("ntp", final(6, 43));
    if (c.newNtpConflicts) ntp.meta.conflicts = {{"chrony", 0, 0, 0}};
    router.offer(kDownload, ntp);
    const RunResult run = router.upgrade();
    EXPECT_EQ(splitConsole(run.out).lines, c.lines);
    EXPECT_EQ(router.root.read("flash/var/pdb/chrony/disabled"),
              c.newNtpConflicts ? "auto\n" : "");
  }
}

// The enable state the user chose stays with the newer version; a state the
// installer chose does not.
TEST(UpgradeRun, UserChoicesSurviveTheUpgrade) {
  const struct {
    std::string disabled, enabled;
    bool goesInDisabled;
  } cases[] = {{"user", "", true}, {"", "user", false}, {"auto", "", false}};
  for (const auto& c : cases) {
    Router router;
    router.entry("system", final(7, 1));  // with everything disabled the schedule objects
    router.entry("dhcp", final(6, 42), "", "", c.disabled, c.enabled);
    router.offer(kDownload, package("dhcp", final(6, 43)));
    EXPECT_EQ(splitConsole(router.upgrade().out).lines, "installed dhcp-6.43\n");
    const ScratchRoot& root = router.root;
    EXPECT_EQ(root.exists("flash/x/dhcp/bin/dhcp"), c.goesInDisabled) << c.disabled;
    EXPECT_EQ(root.exists("flash/bin/dhcp"), !c.goesInDisabled) << c.disabled;
    EXPECT_EQ(root.read("flash/var/pdb/dhcp/disabled"), c.goesInDisabled ? "user\n" : "");
    EXPECT_EQ(root.read("flash/var/pdb/dhcp/enabled"), c.enabled.empty() ? "" : "user\n");
  }
}

// Installed: core 7.1 with system, dhcp and ppp.
TEST(UpgradeRun, Bundles) {
  const std::string installed =
      signedBundleFile(coreBundle(final(7, 1), {"system", "dhcp", "ppp"}));
  const std::string newer = signedBundleFile(coreBundle(final(7, 2), {"system", "dhcp"}));
  const struct {
    std::string directory, file, abandoned;
  } cases[] = {
      {kDownload, newer, ""},
      {kFlashRw, newer, "ERROR: missing package ppp\n"},
      {kDownload, installed, "WARNING: omitting package core-7.1: it is already installed\n"},
  };
  for (const auto& c : cases) {
    Router router;
    router.installed(installed);
    router.offer(c.directory, c.file, "core");
    if (!c.abandoned.empty()) {
      router.expectAbandoned(c.abandoned);
      continue;
    }
    EXPECT_EQ(splitConsole(router.upgrade().out).lines, "installed core-7.2\n");
    EXPECT_TRUE(router.root.read("flash/var/pdb/core/image") == newer);
    EXPECT_EQ(router.root.read("flash/bin/dhcp"), "dhcp");
    EXPECT_FALSE(router.root.exists("flash/bin/ppp"));
    EXPECT_FALSE(router.root.exists("flash/var/pdb/ppp"));
  }
}

// Only the file of a package this run installed becomes its kept image, or the boot
// image; a copy of the installed version, even a spoilt one, is never read whole
// and leaves the image alone.
TEST(UpgradeRun, KeptImagesOnlyForPackagesThisRunInstalled) {
  const struct {
    PackageLayout layout;
    std::vector<std::string> environment;
    std::string image;
  } cases[] = {
      {withPayload(package("wireless", final(7, 2))), {}, "flash/var/pdb/wireless/image"},
      {withPayload(package("system", final(7, 2)), BOOT_PACKAGE), {"bootimage=1"},
       "flash/bootimage"},
  };
  for (const auto& c : cases) {
    Router router;
    const ScratchRoot& root = router.root;
    const std::string name = c.layout.meta.name;
    const std::string file = router.offer(kDownload, c.layout);
    EXPECT_EQ(splitConsole(router.upgrade({}, c.environment).out).lines,
              "installed " + name + "-7.2\n");
    EXPECT_TRUE(root.read(c.image) == file) << name;
    EXPECT_FALSE(root.exists(kDownload + name + "-7.2.zpk"));
    if (c.image == "flash/bootimage") {
      char target[64] = {};
      EXPECT_GT(readlink(root.at("flash/var/pdb/system/image").c_str(), target, 63), 0);
      EXPECT_STREQ(target, "/flash/bootimage");
    }
    std::string spoilt = file;
    spoilt.replace(spoilt.find(c.layout.payload), 20000, 20000, 'x');
    router.offer(kDownload, spoilt, "again");
    const std::string shown = name + "-7.2";
    const std::string lines[2] = {
        "WARNING: omitting package " + shown + ": it is already installed\n",
        "\nResuming upgrade...\ninstalled " + shown + "\n"};
    for (const bool reinstall : {false, true}) {
      unlink(root.at("flash/PCKGS_CHANGED").c_str());
      std::vector<std::string> arguments;
      if (reinstall) arguments.push_back("--reinstall");
      const RunResult run = router.upgrade(arguments, c.environment);
      EXPECT_EQ(splitConsole(run.out).lines, lines[reinstall] + "installed " + shown + "\n");
      EXPECT_TRUE(root.read(c.image) == file) << name;
      EXPECT_TRUE(root.read(kDownload + "again.zpk") == spoilt);
      EXPECT_FALSE(root.exists("flash/PCKGS_CHANGED"));  // nothing changed
    }
  }
}

// dhcp needs wireless: the lines follow the installation order, not the names.
TEST(UpgradeRun, InstalledLinesInOrderAndTheChangeMarker) {
  Router router;
  PackageLayout dhcp = package("dhcp", final(6, 43));
  dhcp.meta.dependencies = {{"wireless", 0, 0, 0}};
  router.offer(kDownload, dhcp);
  router.offer(kDownload, package("wireless", final(6, 43)));
  const RunResult run = router.upgrade();
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(splitConsole(run.out).lines, "installed wireless-6.43\ninstalled dhcp-6.43\n");
  struct stat info;
  ASSERT_EQ(stat(router.root.at("flash/PCKGS_CHANGED").c_str(), &info), 0);
  EXPECT_EQ(info.st_size, 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  EXPECT_EQ(router.root.read("flash/bin/dhcp"), "dhcp");
  EXPECT_EQ(leftoverTemporaries(router.root.path()), std::vector<std::string>{});
}

// Nothing to install and no schedule: no marker, no apply, no hand-off; the
// message still reaches the end of the post-install log.
TEST(UpgradeRun, NothingChangedMeansNoMarkerAndNoHandOff) {
  Router router;
  router.probe();
  router.entry("ntp", final(6, 42));
  router.root.write(kDownload + "broken.zpk", "not a package");
  router.root.write("flash/postlog", "old\n");
  const std::string before = treeSnapshot(router.root.path());
  const RunResult run = router.upgrade();
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "ERROR: broken package broken.zpk\n");
  EXPECT_EQ(router.root.read("flash/postlog"), "old\nERROR: broken package broken.zpk\n");
  router.root.write("flash/postlog", "old\n");
  EXPECT_EQ(treeSnapshot(router.root.path()), before);
}

// The boot stage runs as "vemo" inside "/flash" after the apply and before the log
// is written; its status of 3 is not the installer's.
TEST(UpgradeRun, HandOffToTheBootStage) {
  Router router;
  router.probe();
  router.root.write("flash/postlog", "old\n");
  router.offer(kDownload, package("ntp", final(6, 43)));
  const RunResult run = router.upgrade();
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(splitConsole(run.out).lines,
            "installed ntp-6.43\n"
            "vemo: argc=1 argv0=vemo cwd=/\n"
            "vemo: /bin/vemo present, /flash absent, /PCKGS_CHANGED present\n"
            "vemo: /bin holds ntp vemo\n"
            "vemo: /postlog 4096 bytes, all zero\n");
  EXPECT_EQ(router.root.read("flash/postlog"), "old\ninstalled ntp-6.43\n");
}

// ntp 6.42 installed; ntp 6.43 and wireless (kept as an image, needs ntp) offered.
// Signing draws a fresh nonce, so the files are made once for every root.
void prepareUpgrade(const Router& router) {
  static const std::string files[3] = {
      signedPackageFile(package("ntp", final(6, 42), "old")),
      signedPackageFile(package("ntp", final(6, 43), "new")), [] {
        PackageLayout wireless = withPayload(package("wireless", final(7, 2)));
        wireless.meta.dependencies = {{"ntp", 0, 0, 0}};
        return signedPackageFile(wireless);
      }()};
  router.installed(files[0]);
  router.offer(kDownload, files[1], "ntp-6.43");
  router.offer(kDownload, files[2], "wireless-7.2");
}

// The prepared files of a deferred install, wherever the change set put them.
std::vector<std::string> prepared(const ScratchRoot& root) {
  std::vector<std::string> found;
  for (const char* top : {"flash", "ram", "rw"})
    for (const std::string& path : leftoverTemporaries(root.at(top))) found.push_back(path);
  return found;
}

TEST(UpgradeRun, SafeThenCommitGivesTheImmediateUpgrade) {
  Router immediate;
  prepareUpgrade(immediate);
  EXPECT_EQ(immediate.upgrade().status, 0);

  Router deferred;
  prepareUpgrade(deferred);
  deferred.probe();
  const RunResult safe = deferred.upgrade({"--safe"});
  EXPECT_EQ(safe.status, 0);
  // No hand-off: the probe would have spoken.
  EXPECT_EQ(splitConsole(safe.out).lines, "installed ntp-6.43\ninstalled wireless-7.2\n");
  unlink(deferred.root.at("flash/bin/vemo").c_str());
  const std::string manifest = deferred.root.read("ram/MANIFEST");
  EXPECT_EQ(manifest.rfind("M /flash/PCKGS_CHANGED /flash/tmp", 0), 0u) << manifest;
  EXPECT_EQ(deferred.root.read("flash/bin/ntp"), "old");
  EXPECT_FALSE(deferred.root.exists("flash/var/pdb/wireless"));

  deferred.root.installBinary();
  const RunResult commit = runInChroot(deferred.root, {"--commit"});
  EXPECT_EQ(commit.status, 0);
  EXPECT_EQ(commit.out, "finishing install... \b \n");
  EXPECT_EQ(deferred.liveTree(), immediate.liveTree());
  EXPECT_EQ(prepared(deferred.root), std::vector<std::string>{});
  EXPECT_EQ(deferred.root.read("ram/MANIFEST"), manifest);  // left in place
}

TEST(UpgradeRun, SafeThenCancelLeavesTheLiveTree) {
  Router router;
  prepareUpgrade(router);
  router.root.installBinary();
  const std::string before = router.liveTree();
  EXPECT_EQ(router.upgrade({"--safe"}).status, 0);
  const std::vector<std::string> files = prepared(router.root);
  EXPECT_FALSE(files.empty());
  const RunResult cancel = runInChroot(router.root, {"--cancel"});
  EXPECT_EQ(cancel.status, 0);
  EXPECT_EQ(cancel.out, "");
  EXPECT_FALSE(router.root.exists("ram/MANIFEST"));
  // The prepared files stay where they are; the live tree is as it was.
  EXPECT_EQ(prepared(router.root), files);
  for (const std::string& path : files) unlink(path.c_str());
  unlink(router.root.at("flash/postlog").c_str());
  EXPECT_EQ(router.liveTree(), before);
}

// A manifest that cannot be written whole is not left behind, and neither is
// anything prepared for it.
TEST(UpgradeRun, SafeManifestThatCannotBeWritten) {
  const struct {
    bool full;  // "/ram" a full tmpfs; otherwise missing
    int status;
    std::string reason;
  } cases[] = {{true, 28, "No space left on device"}, {false, 1, "No such file or directory"}};
  for (const auto& c : cases) {
    Router router;
    router.entry("ntp", final(6, 42));
    router.offer(kDownload, package("ntp", final(6, 43)));
    if (c.full) {
      if (!router.root.mountTmpfs("ram", 4096)) GTEST_SKIP() << "mounting tmpfs not allowed";
      router.root.write("ram/filler", std::string(4096, 'f'));
      ASSERT_EQ(router.root.read("ram/filler").size(), 4096u);
    } else {
      rmdir(router.root.at("ram").c_str());
    }
    const std::string before = treeSnapshot(router.root.path());
    const RunResult run = router.upgrade({"--safe"});
    const std::string lines =
        "installed ntp-6.43\nERROR: could not write /ram/MANIFEST: " + c.reason + "\n";
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(splitConsole(run.out).lines, lines);
    EXPECT_EQ(router.root.read("flash/postlog"), lines);
    unlink(router.root.at("flash/postlog").c_str());
    EXPECT_EQ(treeSnapshot(router.root.path()), before) << c.reason;
    EXPECT_EQ(leftoverTemporaries(router.root.path()), std::vector<std::string>{}) << c.reason;
  }
}

// "--commit" applies a manifest only when it reads whole: a damaged one applies
// nothing, not even the lines before the damage.
TEST(UpgradeRun, CommitAppliesOnlyAWholeManifest) {
  const std::string good = "M /flash/new /ram/prepared\n";
  const std::string refused = "ERROR: could not read /ram/MANIFEST\n";
  const std::string finished = "finishing install... \b \n";
  using namespace std::string_literals;
  const struct {
    bool present;
    std::string damage;
    std::string out;
  } cases[] = {
      {true, "U\n", refused},
      {true, "L /flash/link\n", refused},
      {true, "M /flash/other\n", refused},
      {true, "oneword\n", refused},
      {true, "M /flash/a\0b /ram/prepared\n"s, refused},
      {true, "X /flash/ignored /ram/prepared\n", finished},
      {false, "", finished},
  };
  ScratchRoot root;
  root.installBinary();
  for (const auto& c : cases) {
    root.write("ram/prepared", "new");
    unlink(root.at("ram/MANIFEST").c_str());
    if (c.present) root.write("ram/MANIFEST", good + c.damage);
    const RunResult run = runInChroot(root, {"--commit"});
    const bool applied = c.present && c.out == finished;
    EXPECT_EQ(run.status, c.out == refused ? 1 : 0) << c.damage;
    EXPECT_EQ(run.out, c.out) << c.damage;
    EXPECT_EQ(root.read("flash/new"), applied ? "new" : "") << c.damage;
    EXPECT_EQ(root.exists("ram/prepared"), !applied);
    unlink(root.at("flash/new").c_str());
  }
}

}  // namespace
