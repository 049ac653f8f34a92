// Installing packages and bundles through "installer -", as whole-program runs on
// scratch router roots: exact messages and files, and for every failure a live tree
// that is byte for byte what it was, with no temporary file left.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/console_text.h"
#include "support/scratch_root.h"
#include "support/signed_packages.h"

namespace {

constexpr Version final(unsigned major, unsigned minor, unsigned number = 0) {
  return (major << 24) | (minor << 16) | ('f' << 8) | number;
}

// A scratch root with an empty package database.
struct Router {
  Router() { root.makeDirectory("flash/var/pdb"); }

  // Runs "installer -r ROOT [arguments] -" with file on standard input.
  RunResult install(const std::string& file, std::vector<std::string> arguments = {},
                    const std::vector<std::string>& environment = {}) const {
    arguments.push_back("-");
    return runInstaller(root, arguments, file, environment);
  }

  // Installs file, which must succeed, and forgets the change marker and the log.
  void installed(const std::string& file) const {
    const RunResult run = install(file);
    EXPECT_EQ(run.status, 0) << run.out;
    unlink(root.at("flash/PCKGS_CHANGED").c_str());
    unlink(root.at("flash/postlog").c_str());
  }

  // The run fails with status and message and leaves the tree as it was, but for
  // the message kept in the post-install log.
  void expectRefused(const std::string& file, int status, const std::string& message,
                     const std::vector<std::string>& arguments = {},
                     const std::vector<std::string>& environment = {}) const {
    const std::string before = treeSnapshot(root.path());
    const RunResult run = install(file, arguments, environment);
    EXPECT_EQ(run.status, status) << message;
    EXPECT_EQ(splitConsole(run.out).lines, message);
    EXPECT_EQ(root.read("flash/postlog"), message);
    unlink(root.at("flash/postlog").c_str());
    EXPECT_EQ(treeSnapshot(root.path()), before) << message;
    EXPECT_EQ(leftoverTemporaries(root.path()), std::vector<std::string>{}) << message;
  }

  std::string versionFile(const std::string& name) const {
    return root.read("flash/var/pdb/" + name + "/version");
  }

  ScratchRoot root;
};

PackageLayout hello(Version version, const std::string& text = "hello") {
  return packageLayout("hello", version,
                       {{"bin/hello", 0100755, text}, {"etc/hello.conf", 0100640, "greeting=1\n"}});
}

TEST(StandardInputInstall, NewPackageGoesInWithItsDatabaseEntryAndTheChangeMarker) {
  Router router;
  const ScratchRoot& root = router.root;
  const RunResult run = router.install(signedPackageFile(hello(final(6, 42, 3))));
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

  EXPECT_EQ(root.read("flash/bin/hello"), "hello");
  EXPECT_EQ(treeSnapshot(root.at("flash")),
            "/PCKGS_CHANGED 384 \n"
            "/bin/\n/bin/hello 493 hello\n"
            "/etc/\n/etc/hello.conf 416 greeting=1\\10\n"
            "/var/\n/var/pdb/\n/var/pdb/hello/\n"
            "/var/pdb/hello/deps 384 \n"
            "/var/pdb/hello/files 384 flash/bin/hello\\10flash/etc/hello.conf\\10\n"
            "/var/pdb/hello/version 384 103441923 1700000000\\10\n");
  EXPECT_EQ(leftoverTemporaries(root.path()), std::vector<std::string>{});
}

// An installed hello-6.42.3 meets a candidate of another version.
TEST(StandardInputInstall, VersionsAgainstTheInstalledPackage) {
  const struct {
    Version version;
    std::vector<std::string> arguments;
    int status;
    std::string lines;
    bool replaced;
  } cases[] = {
      {final(6, 43), {}, 0, "", true},
      {final(6, 42, 3), {}, 0, "WARNING: omitting package hello-6.42.3: it is already installed\n",
       false},
      {final(6, 42, 3), {"--reinstall"}, 0, "\nResuming upgrade...\ninstalled hello-6.42.3\n",
       false},
      {final(6, 41), {}, 1,
       "WARNING: omitting package hello-6.41: newer package hello-6.42.3 is already installed\n",
       false},
      {final(6, 41), {"-down"}, 0, "", true},
  };
  for (const auto& c : cases) {
    Router router;
    const ScratchRoot& root = router.root;
    router.installed(signedPackageFile(hello(final(6, 42, 3), "old")));
    PackageLayout candidate = hello(c.version, "new");
    candidate.files.pop_back();  // the new version no longer carries hello.conf
    const RunResult run = router.install(signedPackageFile(candidate), c.arguments);
    EXPECT_EQ(run.status, c.status) << c.lines;
    EXPECT_EQ(splitConsole(run.out).lines, c.lines);
    EXPECT_EQ(root.read("flash/bin/hello"), c.replaced ? "new" : "old") << c.lines;
    EXPECT_EQ(root.exists("flash/etc/hello.conf"), !c.replaced) << c.lines;
    EXPECT_EQ(router.versionFile("hello"),
              std::to_string(c.replaced ? c.version : final(6, 42, 3)) + " 1700000000\n");
    // Accepted as installed counts as done: the marker is written.
    EXPECT_EQ(root.exists("flash/PCKGS_CHANGED"), c.status == 0) << c.lines;
  }
}

TEST(StandardInputInstall, PackageBlockedByAnActivePackageGoesInDisabled) {
  Router router;
  PackageLayout chrony = packageLayout("chrony", final(6, 42), {{"bin/chronyd", 0100755, "c"}});
  chrony.meta.conflicts = {{"ntp", 0, 0, 0}};
  router.installed(signedPackageFile(chrony));
  const RunResult run = router.install(
      signedPackageFile(packageLayout("ntp", final(6, 42), {{"bin/ntpd", 0100755, "n"}})));
  EXPECT_EQ(run.status, 0);
  const ConsoleText console = splitConsole(run.out);
  EXPECT_EQ(console.lines, "");
  const std::string label = "installing  (disabled) ntp-6.42 [";
  EXPECT_EQ(console.statuses.front().substr(0, label.size()), label);
  EXPECT_EQ(router.root.read("flash/x/ntp/bin/ntpd"), "n");
  EXPECT_FALSE(router.root.exists("flash/bin/ntpd"));
  EXPECT_EQ(router.root.read("flash/var/pdb/ntp/disabled"), "auto\n");
  EXPECT_EQ(router.root.read("flash/var/pdb/ntp/files"), "flash/x/ntp/bin/ntpd\n");
}

PackageLayout member(const std::string& name, Version version, const std::string& text) {
  return packageLayout(name, version, {{"bin/" + name, 0100755, text}});
}

BundleLayout coreBundle(Version version, std::vector<PackageLayout> members) {
  BundleLayout bundle;
  bundle.meta.name = "core";
  bundle.meta.version = version;
  bundle.meta.buildTime = 1700000000;
  bundle.payload = "bundle payload";
  bundle.members = std::move(members);
  return bundle;
}

// A bundle goes in with its members; the entry table keeps a member the user never
// chose disabled; the next version uninstalls the member it no longer carries.
TEST(StandardInputInstall, BundleMembersEntryTableAndPreviousMembers) {
  Router router;
  const ScratchRoot& root = router.root;
  BundleLayout first = coreBundle(final(6, 42), {member("system", final(6, 42), "s1"),
                                                 member("dhcp", final(6, 42), "d1"),
                                                 member("ppp", final(6, 42), "p1")});
  first.entryTable = {{"ppp", 0, 0, 0}};
  const std::string firstFile = signedBundleFile(first);
  const RunResult run = router.install(firstFile);
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

  const std::string secondFile = signedBundleFile(coreBundle(
      final(6, 43), {member("system", final(6, 43), "s2"), member("dhcp", final(6, 43), "d2")}));
  EXPECT_EQ(router.install(secondFile).status, 0);
  EXPECT_TRUE(root.read("flash/var/pdb/core/image") == secondFile);
  EXPECT_EQ(root.read("flash/bin/dhcp"), "d2");
  EXPECT_FALSE(root.exists("flash/x/ppp/bin/ppp"));
  EXPECT_FALSE(root.exists("flash/var/pdb/ppp"));
  EXPECT_EQ(leftoverTemporaries(root.path()), std::vector<std::string>{});
}

// A file cut at a part boundary after n bytes of body, with its length word kept.
std::string cutAfter(const std::string& file, size_t size) { return file.substr(0, size); }

TEST(StandardInputInstall, BundleRefusals) {
  const PackageLayout base = member("base", final(6, 42), "s");
  BundleLayout withDependency = coreBundle(final(6, 42), {base});
  withDependency.meta.dependencies = {{"ntp", 0, 0, 0}};
  BundleLayout memberNamedLikeBundle = coreBundle(final(6, 42), {member("core", final(6, 42), "c")});
  const std::string whole = signedBundleFile(
      coreBundle(final(6, 42), {base, member("dhcp", final(6, 42), "d")}));
  // Both signature forms of the last member spoilt: its EdDSA signature and r.
  std::string brokenMember = whole;
  brokenMember[brokenMember.size() - 1] ^= 1;
  brokenMember[brokenMember.size() - 132 + 20] ^= 1;
  // Cut right after the first member: the stream reads like a shorter bundle.
  const std::string firstMemberOnly = signedBundleFile(coreBundle(final(6, 42), {base}));
  const std::string broken = "ERROR: installation of core-6.42 failed: broken package\n";
  const struct {
    std::string file;
    int status;
    std::string message;
  } cases[] = {
      {signedBundleFile(withDependency), 1, ""},
      {signedBundleFile(memberNamedLikeBundle), 2, ""},
      {brokenMember, 2, broken},
      {withPart(whole, OpaquePayloadPart, "late"), 2, ""},
      {buildBundleFile(coreBundle(final(6, 42), {})), 3, ""},
      {cutAfter(whole, firstMemberOnly.size()), 2, broken},
  };
  for (const auto& c : cases) {
    Router router;
    router.expectRefused(c.file, c.status, c.message);
  }
  Router router;
  router.installed(whole);
  router.expectRefused(whole, 2, "WARNING: omitting package core-6.42: it is already installed\n");
}

// With "bootimage" set, the boot package's container is not unpacked but its
// signature is still checked, and the received file becomes the boot image.
TEST(StandardInputInstall, BootPackageAsAWholeBootImage) {
  PackageLayout boot = packageLayout("system", final(7, 2), {{"bin/init", 0100755, "init"}});
  boot.meta.flags = BOOT_PACKAGE;
  boot.hasPayload = true;
  boot.payload = std::string(10000, 'k');
  const std::string file = signedPackageFile(boot);
  for (const bool whole : {true, false}) {
    Router router;
    const ScratchRoot& root = router.root;
    const RunResult run =
        router.install(file, {}, {whole ? "bootimage=1" : "bootimage"});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(root.exists("flash/bin/init"), !whole);
    EXPECT_EQ(root.exists("flash/bootimage"), whole);
    // The package's image entry is a link to the boot image when whole.
    const std::string image = root.at("flash/var/pdb/system/image");
    char target[64] = {};
    EXPECT_EQ(readlink(image.c_str(), target, sizeof target - 1) > 0, whole);
    EXPECT_TRUE(root.read(whole ? "flash/bootimage" : "flash/var/pdb/system/image") == file);
    if (whole) {
      EXPECT_STREQ(target, "/flash/bootimage");
    }
    EXPECT_TRUE(root.exists("flash/UPGRADED"));
    EXPECT_FALSE(root.exists("rw/CONVERT"));  // only a "system" of major 6 or less
    EXPECT_FALSE(root.exists("flash/var/pdb/system/version"));
  }
  Router router;
  std::string spoilt = file;
  spoilt[spoilt.size() - 1] ^= 1;
  spoilt[spoilt.size() - 132 + 20] ^= 1;
  router.expectRefused(spoilt, 1, "ERROR: installation of system-7.2 failed: broken package\n",
                       {}, {"bootimage=1"});
}

// A file with the second magic value is unpacked and verified but leaves the
// installed package of its name, and its database entry, in place.
TEST(StandardInputInstall, SecondMagicValueLeavesTheInstalledPackage) {
  Router router;
  router.installed(signedPackageFile(hello(final(6, 42), "old")));
  const std::string database = treeSnapshot(router.root.at("flash/var/pdb"));
  const RunResult run = router.install(
      signedPackageFile(hello(final(6, 43), "alt"), SignatureForms::Both, kAltPackageMagic));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(router.root.read("flash/bin/hello"), "alt");
  EXPECT_EQ(treeSnapshot(router.root.at("flash/var/pdb")), database);
}

// What the signature must be, and what may follow it, for a stand-alone package.
TEST(StandardInputInstall, SignatureLevelsAndWhatFollowsTheSignature) {
  const auto legacyOnly = [](Version version, const std::string& name = "hello") {
    PackageLayout layout = hello(version);
    layout.meta.name = name;
    return signedPackageFile(layout, SignatureForms::LegacyOnly);
  };
  const std::string good = signedPackageFile(hello(final(6, 42)));
  const auto broken = [](const std::string& name) {
    return "ERROR: installation of " + name + " failed: broken package\n";
  };
  const struct {
    std::string file;
    bool secure;
    int status;
    std::string message;
  } cases[] = {
      {legacyOnly(final(6, 46, 8)), false, 0, ""},
      {legacyOnly(final(6, 46, 9)), false, 1, broken("hello-6.46.9")},
      {legacyOnly(final(6, 48)), false, 0, ""},
      {legacyOnly(final(6, 48), "branding"), true, 1, broken("branding-6.48")},
      {legacyOnly(final(6, 42)), true, 1, broken("hello-6.42")},
      {signedPackageFile(hello(final(7, 5))), true, 0, ""},
      {withPart(good, ArchitecturePart, "i386"), false, 0, ""},
      {withPart(good, DependenciesPart, ""), false, 0, ""},
      {withPart(withPart(good, ArchitecturePart, "i386"), DependenciesPart, ""), false, 0, ""},
      {withPart(good, DependenciesPart, std::string(2, '\0')), false, 1, broken("hello-6.42")},
      {withPart(good, FileContainerPart, ""), false, 1, broken("hello-6.42")},
      {withPart(good, 99, "not wanted: passed over"), false, 0, ""},
  };
  for (const auto& c : cases) {
    Router router;
    if (c.secure) router.root.write("ram/SECURE", "");
    if (c.status == 0) {
      const RunResult run = router.install(c.file);
      EXPECT_EQ(run.status, 0) << run.out;
      EXPECT_EQ(splitConsole(run.out).lines, "");
    } else {
      router.expectRefused(c.file, c.status, c.message);
    }
  }
}

TEST(StandardInputInstall, MarkerFiles) {
  Router router;
  EXPECT_EQ(router.install(signedPackageFile(packageLayout("branding", final(6, 42)))).status, 0);
  EXPECT_TRUE(router.root.exists("flash/UPGRADED"));
  EXPECT_TRUE(router.root.exists("flash/BRANDING_INSTALLED"));
  // A "system" of major 6 leaves "/rw/CONVERT" even when it is refused.
  router.root.write("flash/var/pdb/system/version", std::to_string(final(6, 49)) + " 1\n");
  router.root.write("flash/var/pdb/system/files", "");
  EXPECT_EQ(router.install(signedPackageFile(packageLayout("system", final(6, 40)))).status, 1);
  EXPECT_TRUE(router.root.exists("rw/CONVERT"));
}

// Names that would not survive the database's text files, or that would put a
// database entry outside its directory, make the package broken before anything
// else is decided; so do container entries that climb out or hold control
// characters.
TEST(StandardInputInstall, UnusableNamesAreBrokenPackages) {
  const auto named = [](const std::string& name) { return packageLayout(name, final(6, 42)); };
  PackageLayout dependency = named("hello");
  dependency.meta.dependencies = {{"a b", 0, 0, 0}};
  PackageLayout provided = named("hello");
  provided.meta.provides = {{"line\nfeed", 0, 0, 0}};
  const auto entry = [](const std::string& name) {
    return packageLayout("hello", final(6, 42), {{name, 0100644, "x"}});
  };
  const struct {
    PackageLayout layout;
    std::string shown;
  } cases[] = {
      {named("my tool"), "my tool-6.42"},
      {named("esc\x1b[2J"), "esc\\x1b[2J-6.42"},
      {named(".."), "..-6.42"},
      {named("a/b"), "a/b-6.42"},
      {named(""), "-6.42"},
      {dependency, "hello-6.42"},
      {provided, "hello-6.42"},
      {entry("bin/line\nfeed"), "hello-6.42"},
      {entry("../../etc/passwd"), "hello-6.42"},
      {entry("bin/"), "hello-6.42"},
      {entry("bin/./tool"), "hello-6.42"},
  };
  for (const auto& c : cases) {
    Router router;
    router.expectRefused(signedPackageFile(c.layout), 1,
                         "ERROR: installation of " + c.shown + " failed: broken package\n");
  }
  // A blank inside a container entry name is an ordinary character.
  Router router;
  EXPECT_EQ(router.install(signedPackageFile(entry("my file"))).status, 0);
  EXPECT_EQ(router.root.read("flash/my file"), "x");
}

// The received file becomes a kept image only for a package this run installed and
// verified: a copy of an installed version is not read whole, and must not replace
// the good image.
TEST(StandardInputInstall, ReceivedFileIsKeptOnlyForAnInstalledPackage) {
  PackageLayout wireless = packageLayout("wireless", final(6, 42), {{"lib/fw", 0100644, "fw"}});
  wireless.hasPayload = true;
  wireless.payload = std::string(50000, 'w');
  const std::string file = signedPackageFile(wireless);
  for (const std::vector<std::string>& arguments :
       std::vector<std::vector<std::string>>{{}, {"--reinstall"}}) {
    Router router;
    router.installed(file);
    EXPECT_TRUE(router.root.read("flash/var/pdb/wireless/image") == file);
    const RunResult run = router.install(file.substr(0, 30000), arguments);
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(router.root.read("flash/var/pdb/wireless/image") == file);
    EXPECT_FALSE(router.root.exists("flash/var/pdb/image"));
  }
}

}  // namespace
