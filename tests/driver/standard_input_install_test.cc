// Installing packages and bundles through "installer -", as whole-program runs on
// scratch router roots: exact messages and files, and for every failure a live tree
// that is byte for byte what it was, with no temporary file left.

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "support/console_text.h"
#include "support/package_records.h"
#include "support/scratch_root.h"
#include "support/signed_packages.h"

namespace {

// Runs "installer -r ROOT [arguments] -" with file on standard input.
RunResult install(const ScratchRoot& root, const std::string& file,
                  std::vector<std::string> arguments = {},
                  const std::vector<std::string>& environment = {}) {
  arguments.push_back("-");
  return runInstaller(root, arguments, file, environment);
}

// The install fails with status and message and leaves the tree as it was.
void expectRefused(const ScratchRoot& root, const std::string& file, int status,
                   const std::string& message, const std::vector<std::string>& environment = {}) {
  expectUnchangedRun(root, {"-"}, status, message, file, environment);
}

std::string broken(const std::string& shown) {
  return "ERROR: installation of " + shown + " failed: broken package\n";
}

// Both signature forms of the last package of file spoilt: its EdDSA signature and r.
std::string spoilt(std::string file) {
  file[file.size() - 1] ^= 1;
  file[file.size() - 132 + 20] ^= 1;
  return file;
}

PackageLayout hello(Version version, const std::string& text = "hello") {
  return packageLayout("hello", version,
                       {{"bin/hello", 0100755, text}, {"etc/hello.conf", 0100640, "greeting=1\n"}});
}

TEST(StandardInputInstall, NewPackageGoesInWithItsDatabaseEntryAndTheChangeMarker) {
  RouterRoot root;
  const RunResult run = install(root, signedPackageFile(hello(release(6, 42, 3))));
  EXPECT_EQ(run.status, 0);
  const ConsoleText console = splitConsole(run.out);
  EXPECT_EQ(console.lines, "");
  // The bar fills as the file is read and goes away at the end.
  ASSERT_GE(console.statuses.size(), 3u);
  const std::string label = "installing hello-6.42.3 [";
  size_t filled = 0;
  for (size_t i = 0; i + 1 < console.statuses.size(); ++i) {
    const std::string& bar = console.statuses[i];
    ASSERT_EQ(bar.substr(0, label.size()), label) << bar;
    const size_t marks = bar.find_first_not_of('#', label.size()) - label.size();
    EXPECT_GE(marks, filled);
    filled = marks;
  }
  EXPECT_EQ(console.statuses.back(), "");
  EXPECT_EQ(treeSnapshot(root.at("flash")),
            "/PCKGS_CHANGED 384 \n/bin/\n/bin/hello 493 hello\n"
            "/etc/\n/etc/hello.conf 416 greeting=1\\10\n/var/\n/var/pdb/\n/var/pdb/hello/\n"
            "/var/pdb/hello/deps 384 \n"
            "/var/pdb/hello/files 384 flash/bin/hello\\10flash/etc/hello.conf\\10\n"
            "/var/pdb/hello/version 384 103441923 1700000000\\10\n");
  EXPECT_EQ(leftoverTemporaries(root.path()), std::vector<std::string>{});
}

// An installed hello-6.42.3 meets a candidate of another version, which no longer
// carries hello.conf. Accepted as installed counts as done: the marker is written.
TEST(StandardInputInstall, VersionsAgainstTheInstalledPackage) {
  const std::tuple<Version, std::vector<std::string>, int, std::string, bool> cases[] = {
      {release(6, 43), {}, 0, "", true},
      {release(6, 42, 3), {}, 0,
       "WARNING: omitting package hello-6.42.3: it is already installed\n", false},
      {release(6, 42, 3), {"--reinstall"}, 0, "\nResuming upgrade...\ninstalled hello-6.42.3\n",
       false},
      {release(6, 41), {}, 1,
       "WARNING: omitting package hello-6.41: newer package hello-6.42.3 is already installed\n",
       false},
      {release(6, 41), {"-down"}, 0, "", true}};
  for (const auto& [version, arguments, status, lines, replaced] : cases) {
    RouterRoot root;
    installThroughStdin(root, signedPackageFile(hello(release(6, 42, 3), "old")));
    PackageLayout candidate = hello(version, "new");
    candidate.files.pop_back();
    const RunResult run = install(root, signedPackageFile(candidate), arguments);
    EXPECT_EQ(run.status, status) << lines;
    EXPECT_EQ(splitConsole(run.out).lines, lines);
    EXPECT_EQ(root.read("flash/bin/hello"), replaced ? "new" : "old") << lines;
    EXPECT_EQ(root.exists("flash/etc/hello.conf"), !replaced) << lines;
    EXPECT_EQ(root.read("flash/var/pdb/hello/version"),
              std::to_string(replaced ? version : release(6, 42, 3)) + " 1700000000\n");
    EXPECT_EQ(root.exists("flash/PCKGS_CHANGED"), status == 0) << lines;
  }
}

TEST(StandardInputInstall, PackageBlockedByAnActivePackageGoesInDisabled) {
  RouterRoot root;
  PackageLayout chrony = packageLayout("chrony", release(6, 42), {{"bin/chronyd", 0100755, "c"}});
  chrony.meta.conflicts = {{"ntp", 0, 0, 0}};
  installThroughStdin(root, signedPackageFile(chrony));
  const RunResult run = install(
      root, signedPackageFile(packageLayout("ntp", release(6, 42), {{"bin/ntpd", 0100755, "n"}})));
  EXPECT_EQ(run.status, 0);
  const ConsoleText console = splitConsole(run.out);
  EXPECT_EQ(console.lines, "");
  EXPECT_EQ(console.statuses.front().rfind("installing  (disabled) ntp-6.42 [", 0), 0u);
  EXPECT_EQ(root.read("flash/x/ntp/bin/ntpd"), "n");
  EXPECT_FALSE(root.exists("flash/bin/ntpd"));
  EXPECT_EQ(root.read("flash/var/pdb/ntp/disabled"), "auto\n");
  EXPECT_EQ(root.read("flash/var/pdb/ntp/files"), "flash/x/ntp/bin/ntpd\n");
}

// A bundle goes in with its members; the entry table keeps a member the user never
// chose disabled; the next version uninstalls the member it no longer carries.
TEST(StandardInputInstall, BundleMembersEntryTableAndPreviousMembers) {
  RouterRoot root;
  BundleLayout first = bundleLayout(
      "core", release(6, 42),
      {toolPackage("system", release(6, 42), "s1"), toolPackage("dhcp", release(6, 42), "d1"),
       toolPackage("ppp", release(6, 42), "p1")});
  first.entryTable = {{"ppp", 0, 0, 0}};
  const std::string firstFile = signedBundleFile(first);
  const RunResult run = install(root, firstFile);
  EXPECT_EQ(run.status, 0);
  const ConsoleText console = splitConsole(run.out);
  EXPECT_EQ(console.lines, "");
  // Every member shows under the bundle's name.
  for (const std::string& status : console.statuses)
    EXPECT_TRUE(status.empty() || status.rfind("installing core-6.42 [", 0) == 0) << status;
  EXPECT_TRUE(root.read("flash/var/pdb/core/image") == firstFile);
  EXPECT_EQ(root.read("flash/var/pdb/dhcp/bundle"), "core\n");
  EXPECT_EQ(root.read("flash/bin/system"), "s1");
  EXPECT_EQ(root.read("flash/x/ppp/bin/ppp"), "p1");
  EXPECT_EQ(root.read("flash/var/pdb/ppp/disabled"), "auto\n");
  EXPECT_FALSE(root.exists("flash/var/pdb/core/version"));  // a stored image keeps only state

  const std::string secondFile = signedBundleFile(bundleLayout(
      "core", release(6, 43),
      {toolPackage("system", release(6, 43), "s2"), toolPackage("dhcp", release(6, 43), "d2")}));
  EXPECT_EQ(install(root, secondFile).status, 0);
  EXPECT_TRUE(root.read("flash/var/pdb/core/image") == secondFile);
  EXPECT_EQ(root.read("flash/bin/dhcp"), "d2");
  EXPECT_FALSE(root.exists("flash/x/ppp/bin/ppp") || root.exists("flash/var/pdb/ppp"));
  EXPECT_EQ(leftoverTemporaries(root.path()), std::vector<std::string>{});
}

TEST(StandardInputInstall, BundleRefusals) {
  const PackageLayout base = toolPackage("base", release(6, 42), "s");
  const auto core = [](std::vector<PackageLayout> members) {
    return bundleLayout("core", release(6, 42), std::move(members));
  };
  BundleLayout withDependency = core({base});
  withDependency.meta.dependencies = {{"ntp", 0, 0, 0}};
  const std::string whole = signedBundleFile(core({base, toolPackage("dhcp", release(6, 42))}));
  // Cut right after the first member, the stream reads like a shorter bundle.
  const size_t firstMemberOnly = signedBundleFile(core({base})).size();
  const std::string failed = broken("core-6.42");
  const std::tuple<std::string, int, std::string> cases[] = {
      {signedBundleFile(withDependency), 1, ""},
      {signedBundleFile(core({toolPackage("core", release(6, 42))})), 2, ""},
      {spoilt(whole), 2, failed},
      {withPart(whole, OpaquePayloadPart, "late"), 2, ""},
      {buildBundleFile(core({})), 3, ""},
      {whole.substr(0, firstMemberOnly), 2, failed}};
  for (const auto& [file, status, message] : cases) {
    RouterRoot root;
    expectRefused(root, file, status, message);
  }
  RouterRoot root;
  installThroughStdin(root, whole);
  expectRefused(root, whole, 2, "WARNING: omitting package core-6.42: it is already installed\n");
}

// With "bootimage" set, the boot package's container is not unpacked but its
// signature is still checked, and the received file becomes the boot image, its
// image entry a link to it.
TEST(StandardInputInstall, BootPackageAsAWholeBootImage) {
  PackageLayout boot = packageLayout("system", release(7, 2), {{"bin/init", 0100755, "init"}});
  boot.meta.flags = BOOT_PACKAGE;
  boot.hasPayload = true;
  boot.payload = std::string(10000, 'k');
  const std::string file = signedPackageFile(boot);
  for (const bool whole : {true, false}) {
    RouterRoot root;
    const RunResult run = install(root, file, {}, {whole ? "bootimage=1" : "bootimage"});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(root.exists("flash/bin/init"), !whole);
    EXPECT_EQ(root.exists("flash/bootimage"), whole);
    std::error_code error;
    EXPECT_EQ(std::filesystem::read_symlink(root.at("flash/var/pdb/system/image"), error),
              whole ? "/flash/bootimage" : "");
    EXPECT_TRUE(root.read(whole ? "flash/bootimage" : "flash/var/pdb/system/image") == file);
    EXPECT_TRUE(root.exists("flash/UPGRADED"));
    EXPECT_FALSE(root.exists("rw/CONVERT"));  // only a "system" of major 6 or less
    EXPECT_FALSE(root.exists("flash/var/pdb/system/version"));
  }
  RouterRoot root;
  expectRefused(root, spoilt(file), 1, broken("system-7.2"), {"bootimage=1"});
}

// A file with the second magic value is unpacked and verified but leaves the
// installed package of its name, and its database entry, in place.
TEST(StandardInputInstall, SecondMagicValueLeavesTheInstalledPackage) {
  RouterRoot root;
  installThroughStdin(root, signedPackageFile(hello(release(6, 42), "old")));
  const std::string database = treeSnapshot(root.at("flash/var/pdb"));
  const std::string alt =
      signedPackageFile(hello(release(6, 43), "alt"), SignatureForms::Both, kAltPackageMagic);
  EXPECT_EQ(install(root, alt).status, 0);
  EXPECT_EQ(root.read("flash/bin/hello"), "alt");
  EXPECT_EQ(treeSnapshot(root.at("flash/var/pdb")), database);
}

// What the signature must be, and what may follow it, for a stand-alone package;
// "/ram/SECURE" asks level 2 of every package.
TEST(StandardInputInstall, SignatureLevelsAndWhatFollowsTheSignature) {
  const auto legacyOnly = [](Version version, const std::string& name = "hello") {
    PackageLayout layout = hello(version);
    layout.meta.name = name;
    return signedPackageFile(layout, SignatureForms::LegacyOnly);
  };
  const std::string good = signedPackageFile(hello(release(6, 42)));
  const std::string goodBroken = broken("hello-6.42");
  const std::tuple<std::string, bool, std::string> cases[] = {  // file, secure, refusal
      {legacyOnly(release(6, 46, 8)), false, ""},
      {legacyOnly(release(6, 46, 9)), false, broken("hello-6.46.9")},
      {legacyOnly(release(6, 48)), false, ""},
      {legacyOnly(release(6, 48), "branding"), true, broken("branding-6.48")},
      {legacyOnly(release(6, 42)), true, goodBroken},
      {signedPackageFile(hello(release(7, 5))), true, ""},
      {withPart(good, ArchitecturePart, "i386"), false, ""},
      {withPart(good, DependenciesPart, ""), false, ""},
      {withPart(withPart(good, ArchitecturePart, "i386"), DependenciesPart, ""), false, ""},
      {withPart(good, DependenciesPart, std::string(2, '\0')), false, goodBroken},
      {withPart(good, FileContainerPart, ""), false, goodBroken},
      {withPart(good, 99, "not wanted: passed over"), false, ""}};
  for (const auto& [file, secure, refusal] : cases) {
    RouterRoot root;
    if (secure) root.write("ram/SECURE", "");
    if (refusal.empty()) {
      const RunResult run = install(root, file);
      EXPECT_EQ(run.status, 0) << run.out;
      EXPECT_EQ(splitConsole(run.out).lines, "");
    } else {
      expectRefused(root, file, 1, refusal);
    }
  }
}

TEST(StandardInputInstall, MarkerFiles) {
  RouterRoot root;
  EXPECT_EQ(install(root, signedPackageFile(packageLayout("branding", release(6, 42)))).status, 0);
  EXPECT_TRUE(root.exists("flash/UPGRADED") && root.exists("flash/BRANDING_INSTALLED"));
  // A "system" of major 6 leaves "/rw/CONVERT" even when it is refused.
  writeEntry(root, "system", release(6, 49));
  EXPECT_EQ(install(root, signedPackageFile(packageLayout("system", release(6, 40)))).status, 1);
  EXPECT_TRUE(root.exists("rw/CONVERT"));
}

// Names that would not survive the database's text files, or that would put a
// database entry outside its directory, make the package broken before anything
// else is decided; so do container entries that climb out or hold control
// characters. A blank inside a container entry name is an ordinary character.
TEST(StandardInputInstall, UnusableNamesAreBrokenPackages) {
  const auto named = [](const std::string& name) { return packageLayout(name, release(6, 42)); };
  PackageLayout dependency = named("hello"), provided = named("hello");
  dependency.meta.dependencies = {{"a b", 0, 0, 0}};
  provided.meta.provides = {{"line\nfeed", 0, 0, 0}};
  const auto entry = [](const std::string& name) {
    return packageLayout("hello", release(6, 42), {{name, 0100644, "x"}});
  };
  const std::pair<PackageLayout, std::string> cases[] = {
      {named("my tool"), "my tool-6.42"}, {named("esc\x1b[2J"), "esc\\x1b[2J-6.42"},
      {named(".."), "..-6.42"}, {named("a/b"), "a/b-6.42"}, {named(""), "-6.42"},
      {dependency, "hello-6.42"}, {provided, "hello-6.42"}, {entry("bin/line\nfeed"), "hello-6.42"},
      {entry("../../etc/passwd"), "hello-6.42"}, {entry("bin/"), "hello-6.42"},
      {entry("bin/./tool"), "hello-6.42"}};
  for (const auto& [layout, shown] : cases) {
    RouterRoot root;
    expectRefused(root, signedPackageFile(layout), 1, broken(shown));
  }
  RouterRoot root;
  EXPECT_EQ(install(root, signedPackageFile(entry("my file"))).status, 0);
  EXPECT_EQ(root.read("flash/my file"), "x");
}

// The received file becomes a kept image only for a package this run installed and
// verified: a copy of an installed version is not read whole, and must not replace
// the good image.
TEST(StandardInputInstall, ReceivedFileIsKeptOnlyForAnInstalledPackage) {
  PackageLayout wireless = packageLayout("wireless", release(6, 42), {{"lib/fw", 0100644, "fw"}});
  wireless.hasPayload = true;
  wireless.payload = std::string(50000, 'w');
  const std::string file = signedPackageFile(wireless);
  for (const std::vector<std::string>& arguments :
       std::vector<std::vector<std::string>>{{}, {"--reinstall"}}) {
    RouterRoot root;
    installThroughStdin(root, file);
    EXPECT_TRUE(root.read("flash/var/pdb/wireless/image") == file);
    EXPECT_EQ(install(root, file.substr(0, 30000), arguments).status, 0);
    EXPECT_TRUE(root.read("flash/var/pdb/wireless/image") == file);
    EXPECT_FALSE(root.exists("flash/var/pdb/image"));
  }
}

}  // namespace
