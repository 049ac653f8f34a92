// The upgrade run ("installer -r ROOT" without a mode) as whole-program runs on
// scratch router roots: which package files it takes, what it installs, what an
// abandoned upgrade leaves (nothing but the post-install log), the hand-off to the
// boot stage, and the deferred apply through "--safe", "--commit" and "--cancel".

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/console_text.h"
#include "support/package_records.h"
#include "support/scratch_root.h"
#include "support/signed_packages.h"

namespace {

const std::string kDownload = "rw/pckg/.download/";
const std::string kFlashRw = "flash/rw/pckg/";
const std::string kFlashVar = "flash/var/pckg/";

PackageLayout withPayload(PackageLayout layout, uint32_t flags = 0) {
  layout.meta.flags = flags;
  layout.hasPayload = true;
  layout.payload = std::string(20000, 'w');
  return layout;
}

PackageLayout needing(PackageLayout layout, const std::string& name) {
  layout.meta.dependencies.push_back({name, 0, 0, 0});
  return layout;
}

BundleLayout core(Version version, const std::vector<std::string>& members) {
  std::vector<PackageLayout> layouts;
  for (const std::string& name : members) layouts.push_back(toolPackage(name, version));
  return bundleLayout("core", version, layouts);
}

// Puts file in directory as NAME.zpk and returns it.
std::string offer(const ScratchRoot& root, const std::string& directory, const std::string& file,
                  const std::string& name) {
  root.write(directory + name + ".zpk", file);
  return file;
}
std::string offer(const ScratchRoot& root, const std::string& directory,
                  const PackageLayout& layout) {
  return offer(root, directory, signedPackageFile(layout),
               layout.meta.name + "-" + versionText(layout.meta.version));
}

// The message lines of an upgrade run, which must end with status 0.
std::string upgraded(const ScratchRoot& root, const std::vector<std::string>& arguments = {},
                     const std::vector<std::string>& environment = {}) {
  const RunResult run = runInstaller(root, arguments, "", environment);
  EXPECT_EQ(run.status, 0) << run.out;
  return splitConsole(run.out).lines;
}

// The installed version of name as its database entry says.
Version installedVersion(const ScratchRoot& root, const std::string& name) {
  return std::strtoul(root.read("flash/var/pdb/" + name + "/version").c_str(), nullptr, 10);
}

void placeProbe(const ScratchRoot& root) {
  root.write("flash/bin/vemo", readFile(VEMO_PROBE_BINARY), 0755);
}

// The upgrade is given up: status 0, the message, and a tree that is what it was but
// for the message kept in the post-install log. Schedule changes entered before the
// planning go with it.
TEST(UpgradeRun, AbandonedUpgradeLeavesOnlyTheLog) {
  const std::string core71 = signedBundleFile(core(release(7, 1), {"system", "dhcp", "ppp"}));
  const std::string core72 = signedBundleFile(core(release(7, 2), {"system", "dhcp"}));
  const std::pair<std::function<void(const ScratchRoot&)>, std::string> cases[] = {
      {[](const ScratchRoot&) {}, "ERROR: router installation failed!!!\n"},
      // Needing dhcp, ntp comes second: dhcp is in the set when ntp is refused.
      {[](const ScratchRoot& root) {
         writeEntry(root, "ntp", release(6, 45));
         writeEntry(root, "dhcp", release(6, 42));
         writeEntry(root, "ppp", release(6, 42));
         root.write("ram/pdb/ppp/schedule", "disable\n");
         offer(root, kDownload, toolPackage("dhcp", release(6, 43)));
         offer(root, kDownload, needing(toolPackage("ntp", release(6, 41)), "dhcp"));
       },
       "disabled ppp-6.42\n"
       "WARNING: omitting package ntp-6.41: newer package ntp-6.45 is already installed\n"},
      // Installed: core 7.1 of system, dhcp and ppp. Outside the download directory a
      // name that nothing answers any more ends the upgrade.
      {[&](const ScratchRoot& root) {
         installThroughStdin(root, core71);
         offer(root, kFlashRw, core72, "core");
       },
       "ERROR: missing package ppp\n"},
      {[&](const ScratchRoot& root) {
         installThroughStdin(root, core71);
         offer(root, kDownload, core71, "core");
       },
       "WARNING: omitting package core-7.1: it is already installed\n"},
  };
  for (const auto& [setUp, message] : cases) {
    RouterRoot root;
    setUp(root);
    expectUnchangedRun(root, {}, 0, message);
  }
}

// "/ram/DOWNGRADE" allows going back, to the oldest candidate at or above its floor;
// ntp 6.45 is installed, 6.39 and 6.41 are offered.
TEST(UpgradeRun, DowngradeFloor) {
  const char* const kOlderProvided =
      "WARNING: omitting package ntp-6.41: older package is already provided\ninstalled ntp-6.39\n";
  const std::string floor = std::to_string(release(6, 40));
  const std::tuple<const char*, std::string, Version> cases[] = {
      {"", kOlderProvided, release(6, 39)}, {"0", kOlderProvided, release(6, 39)},
      {floor.c_str(), "WARNING: ommitting package ntp-6.39: not allowed\ninstalled ntp-6.41\n",
       release(6, 41)},
      // Without the marker the newest wins, and is older than the installed one.
      {nullptr,
       "WARNING: omitting package ntp-6.39: newer package is already provided\n"
       "WARNING: omitting package ntp-6.41: newer package ntp-6.45 is already installed\n",
       release(6, 45)}};
  for (const auto& [marker, lines, result] : cases) {
    RouterRoot root;
    writeEntry(root, "ntp", release(6, 45));
    if (marker != nullptr) root.write("ram/DOWNGRADE", marker);
    offer(root, kDownload, toolPackage("ntp", release(6, 39)));
    offer(root, kDownload, toolPackage("ntp", release(6, 41)));
    EXPECT_EQ(upgraded(root), lines);
    EXPECT_EQ(installedVersion(root, "ntp"), result) << lines;
  }
}

// The first directory that holds package files is the only one looked at; the
// IGNORE marker takes the download directory out of the search. Each directory
// offers its own package: ntp, dhcp and ppp, in that order.
TEST(UpgradeRun, FirstDirectoryWithPackageFiles) {
  const std::tuple<std::vector<std::string>, bool, std::string> cases[] = {
      {{kDownload, kFlashRw, kFlashVar}, false, "ntp"}, {{kFlashRw, kFlashVar}, false, "dhcp"},
      {{kFlashVar}, false, "ppp"}, {{kDownload, kFlashRw}, true, "dhcp"},
      {{kDownload, kFlashVar}, true, "ppp"}};
  for (const auto& [filled, ignore, installed] : cases) {
    RouterRoot root;
    for (const char* name : {"ntp", "dhcp", "ppp"}) writeEntry(root, name, release(6, 42));
    for (const std::string& directory : filled) {
      const char* name = directory == kDownload ? "ntp" : directory == kFlashRw ? "dhcp" : "ppp";
      offer(root, directory, toolPackage(name, release(6, 43)));
    }
    if (ignore) root.write(kDownload + "IGNORE", "");
    EXPECT_EQ(upgraded(root), "installed " + installed + "-6.43\n");
    for (const char* name : {"ntp", "dhcp", "ppp"})
      EXPECT_EQ(installedVersion(root, name), release(6, name == installed ? 43 : 42)) << name;
  }
}

// ntp 6.43 no longer provides what ntp 6.42 did; the disabled chrony provides it too,
// and is enabled once even when it answers two names, unless the new ntp conflicts.
TEST(UpgradeRun, NameLeftToADisabledPackageEnablesIt) {
  const std::tuple<std::string, bool, std::string> cases[] = {
      {"time 0 0 0\n", false, "enabled chrony-6.42\ninstalled ntp-6.43\n"},
      {"clock 0 0 0\ntime 0 0 0\n", false, "enabled chrony-6.42\ninstalled ntp-6.43\n"},
      {"time 0 0 0\n", true, "installed ntp-6.43\n"}};
  for (const auto& [provides, newNtpConflicts, lines] : cases) {
    RouterRoot root;
    writeEntry(root, "ntp", release(6, 42), {{"provides", provides}});
    writeEntry(root, "chrony", release(6, 42), {{"provides", provides}, {"disabled", "auto\n"}});
    PackageLayout ntp = toolPackage("ntp", release(6, 43));
    if (newNtpConflicts) ntp.meta.conflicts = {{"chrony", 0, 0, 0}};
    offer(root, kDownload, ntp);
    EXPECT_EQ(upgraded(root), lines);
    EXPECT_EQ(root.read("flash/var/pdb/chrony/disabled"), newNtpConflicts ? "auto\n" : "");
  }
}

// The enable state the user chose stays with the newer version; a state the
// installer chose does not.
TEST(UpgradeRun, UserChoicesSurviveTheUpgrade) {
  const std::tuple<std::string, std::string, bool> cases[] = {
      {"disabled", "user\n", true}, {"enabled", "user\n", false}, {"disabled", "auto\n", false}};
  for (const auto& [file, chosenBy, goesInDisabled] : cases) {
    RouterRoot root;
    writeEntry(root, "system", release(7, 1));  // with everything disabled the schedule objects
    writeEntry(root, "dhcp", release(6, 42), {{file, chosenBy}});
    offer(root, kDownload, toolPackage("dhcp", release(6, 43)));
    EXPECT_EQ(upgraded(root), "installed dhcp-6.43\n");
    EXPECT_EQ(root.exists("flash/x/dhcp/bin/dhcp"), goesInDisabled) << file << chosenBy;
    EXPECT_EQ(root.exists("flash/bin/dhcp"), !goesInDisabled) << file << chosenBy;
    EXPECT_EQ(root.read("flash/var/pdb/dhcp/disabled"), goesInDisabled ? "user\n" : "");
    EXPECT_EQ(root.read("flash/var/pdb/dhcp/enabled"), file == "enabled" ? "user\n" : "");
  }
}

// From the download directory a bundle that no longer carries ppp replaces core 7.1.
TEST(UpgradeRun, NewerBundleReplacesTheInstalledOne) {
  RouterRoot root;
  installThroughStdin(root, signedBundleFile(core(release(7, 1), {"system", "dhcp", "ppp"})));
  const std::string newer =
      offer(root, kDownload, signedBundleFile(core(release(7, 2), {"system", "dhcp"})), "core");
  EXPECT_EQ(upgraded(root), "installed core-7.2\n");
  EXPECT_TRUE(root.read("flash/var/pdb/core/image") == newer);
  EXPECT_EQ(root.read("flash/bin/dhcp"), "dhcp");
  EXPECT_FALSE(root.exists("flash/bin/ppp") || root.exists("flash/var/pdb/ppp"));
}

// Only the file of a package this run installed becomes its kept image, or the boot
// image; a copy of the installed version, even a spoilt one, is never read whole
// and leaves the image alone.
TEST(UpgradeRun, KeptImagesOnlyForPackagesThisRunInstalled) {
  const std::tuple<PackageLayout, std::vector<std::string>, std::string> cases[] = {
      {withPayload(toolPackage("wireless", release(7, 2))), {}, "flash/var/pdb/wireless/image"},
      {withPayload(toolPackage("system", release(7, 2)), BOOT_PACKAGE), {"bootimage=1"},
       "flash/bootimage"}};
  for (const auto& [layout, environment, image] : cases) {
    RouterRoot root;
    const std::string shown = layout.meta.name + "-7.2";
    const std::string file = offer(root, kDownload, layout);
    EXPECT_EQ(upgraded(root, {}, environment), "installed " + shown + "\n");
    EXPECT_TRUE(root.read(image) == file) << shown;
    EXPECT_FALSE(root.exists(kDownload + shown + ".zpk"));
    if (image == "flash/bootimage") {
      std::error_code error;
      EXPECT_EQ(std::filesystem::read_symlink(root.at("flash/var/pdb/system/image"), error),
                "/flash/bootimage");
    }
    std::string spoilt = file;
    spoilt.replace(spoilt.find(layout.payload), 20000, 20000, 'x');
    offer(root, kDownload, spoilt, "again");
    const std::string lines[2] = {
        "WARNING: omitting package " + shown + ": it is already installed\n",
        "\nResuming upgrade...\ninstalled " + shown + "\n"};
    for (const bool reinstall : {false, true}) {
      unlink(root.at("flash/PCKGS_CHANGED").c_str());
      std::vector<std::string> arguments;
      if (reinstall) arguments.push_back("--reinstall");
      EXPECT_EQ(upgraded(root, arguments, environment),
                lines[reinstall] + "installed " + shown + "\n");
      EXPECT_TRUE(root.read(image) == file) << shown;
      EXPECT_TRUE(root.read(kDownload + "again.zpk") == spoilt);
      EXPECT_FALSE(root.exists("flash/PCKGS_CHANGED"));  // nothing changed
    }
  }
}

// dhcp needs wireless: the lines follow the installation order, not the names. The
// boot stage runs as "vemo" inside "/flash" after the apply and before the log is
// written; its status of 3 is not the installer's.
TEST(UpgradeRun, InstalledLinesChangeMarkerAndHandOffToTheBootStage) {
  RouterRoot root;
  placeProbe(root);
  root.write("flash/postlog", "old\n");
  offer(root, kDownload, needing(toolPackage("dhcp", release(6, 43)), "wireless"));
  offer(root, kDownload, toolPackage("wireless", release(6, 43)));
  EXPECT_EQ(upgraded(root),
            "installed wireless-6.43\ninstalled dhcp-6.43\n"
            "vemo: argc=1 argv0=vemo cwd=/\n"
            "vemo: /bin/vemo present, /flash absent, /PCKGS_CHANGED present\n"
            "vemo: /bin holds dhcp vemo wireless\n"
            "vemo: /postlog 4096 bytes, all zero\n");
  EXPECT_EQ(root.read("flash/postlog"), "old\ninstalled wireless-6.43\ninstalled dhcp-6.43\n");
  struct stat info;
  ASSERT_EQ(stat(root.at("flash/PCKGS_CHANGED").c_str(), &info), 0);
  EXPECT_EQ(info.st_size, 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  EXPECT_EQ(root.read("flash/bin/dhcp"), "dhcp");
  EXPECT_EQ(leftoverTemporaries(root.path()), std::vector<std::string>{});
}

// Nothing to install and no schedule: no marker, no apply, no hand-off; the
// message still reaches the end of the post-install log.
TEST(UpgradeRun, NothingChangedMeansNoMarkerAndNoHandOff) {
  RouterRoot root;
  placeProbe(root);
  writeEntry(root, "ntp", release(6, 42));
  root.write(kDownload + "broken.zpk", "not a package");
  root.write("flash/postlog", "old\n");
  const std::string before = treeSnapshot(root.path());
  const RunResult run = runInstaller(root, {});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "ERROR: broken package broken.zpk\n");
  EXPECT_EQ(root.read("flash/postlog"), "old\nERROR: broken package broken.zpk\n");
  root.write("flash/postlog", "old\n");
  EXPECT_EQ(treeSnapshot(root.path()), before);
}

// ntp 6.42 installed; ntp 6.43 and wireless (kept as an image, needs ntp) offered.
// Signing draws a fresh nonce, so the files are made once for every root.
void prepareUpgrade(ScratchRoot& root) {
  static const std::string files[3] = {
      signedPackageFile(toolPackage("ntp", release(6, 42), "old")),
      signedPackageFile(toolPackage("ntp", release(6, 43), "new")),
      signedPackageFile(needing(withPayload(toolPackage("wireless", release(7, 2))), "ntp"))};
  installThroughStdin(root, files[0]);
  offer(root, kDownload, files[1], "ntp-6.43");
  offer(root, kDownload, files[2], "wireless-7.2");
  root.installBinary();
}

// The prepared files of a deferred install, wherever the change set put them.
std::vector<std::string> prepared(const ScratchRoot& root) {
  std::vector<std::string> found;
  for (const char* top : {"flash", "ram", "rw"})
    for (const std::string& path : leftoverTemporaries(root.at(top))) found.push_back(path);
  return found;
}

// The directories an install may change.
std::string liveTree(const ScratchRoot& root) {
  return treeSnapshot(root.at("flash")) + "--\n" + treeSnapshot(root.at("rw"));
}

// "--safe" leaves the changes in "/ram/MANIFEST" without a hand-off; "--commit" then
// gives what the immediate upgrade gives, "--cancel" leaves the live tree as it was.
TEST(UpgradeRun, SafeThenCommitOrCancel) {
  RouterRoot immediate, committed, cancelled;
  for (ScratchRoot* root : {&immediate, &committed, &cancelled}) prepareUpgrade(*root);
  const std::string before = liveTree(cancelled);
  EXPECT_EQ(upgraded(immediate), "installed ntp-6.43\ninstalled wireless-7.2\n");

  placeProbe(committed);  // it would speak if it ran
  EXPECT_EQ(upgraded(committed, {"--safe"}), "installed ntp-6.43\ninstalled wireless-7.2\n");
  unlink(committed.at("flash/bin/vemo").c_str());
  const std::string manifest = committed.read("ram/MANIFEST");
  EXPECT_EQ(manifest.rfind("M /flash/PCKGS_CHANGED /flash/tmp", 0), 0u) << manifest;
  EXPECT_EQ(committed.read("flash/bin/ntp"), "old");
  EXPECT_FALSE(committed.exists("flash/var/pdb/wireless"));
  const RunResult commit = runInChroot(committed, {"--commit"});
  EXPECT_EQ(commit.status, 0);
  EXPECT_EQ(commit.out, "finishing install... \b \n");
  EXPECT_EQ(liveTree(committed), liveTree(immediate));
  EXPECT_EQ(prepared(committed), std::vector<std::string>{});
  EXPECT_EQ(committed.read("ram/MANIFEST"), manifest);  // left in place

  upgraded(cancelled, {"--safe"});
  const std::vector<std::string> files = prepared(cancelled);
  EXPECT_FALSE(files.empty());
  const RunResult cancel = runInChroot(cancelled, {"--cancel"});
  EXPECT_EQ(cancel.status, 0);
  EXPECT_EQ(cancel.out, "");
  EXPECT_FALSE(cancelled.exists("ram/MANIFEST"));
  // The prepared files stay where they are; the live tree is as it was.
  EXPECT_EQ(prepared(cancelled), files);
  for (const std::string& path : files) unlink(path.c_str());
  unlink(cancelled.at("flash/postlog").c_str());
  EXPECT_EQ(liveTree(cancelled), before);
}

// A manifest that cannot be written whole is not left behind, and neither is
// anything prepared for it.
TEST(UpgradeRun, SafeManifestThatCannotBeWritten) {
  for (const bool full : {true, false}) {  // "/ram" a full tmpfs; otherwise missing
    RouterRoot root;
    writeEntry(root, "ntp", release(6, 42));
    offer(root, kDownload, toolPackage("ntp", release(6, 43)));
    if (full) {
      if (!root.mountTmpfs("ram", 4096)) GTEST_SKIP() << "mounting tmpfs not allowed";
      root.write("ram/filler", std::string(4096, 'f'));
      ASSERT_EQ(root.read("ram/filler").size(), 4096u);
    } else {
      rmdir(root.at("ram").c_str());
    }
    const std::string reason = full ? "No space left on device" : "No such file or directory";
    expectUnchangedRun(root, {"--safe"}, full ? 28 : 1,
                       "installed ntp-6.43\nERROR: could not write /ram/MANIFEST: " + reason +
                           "\n");
  }
}

}  // namespace
