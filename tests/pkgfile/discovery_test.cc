#include "pkgfile/discovery.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "pdb/repository.h"
#include "pkgtool/package_builder.h"
#include "support/console_capture.h"
#include "support/scratch_root.h"

namespace {

constexpr Version kVersion = 0x062A6603;  // 6.42.3
using Messages = std::vector<std::string>;

PackageLayout packageSpec(const std::string& name) {
  PackageLayout layout;
  layout.meta.name = name;
  layout.meta.version = kVersion;
  layout.files = {{"bin/" + name, 0100755, "binary"}};
  return layout;
}

BundleLayout bundleSpec() {
  BundleLayout bundle;
  bundle.meta.name = "routeros";
  bundle.meta.version = kVersion;
  bundle.entryTable = {{"system", kVersion, kVersion, 0}};
  bundle.members = {packageSpec("system"), packageSpec("dhcp")};
  bundle.members[1].hasPayload = true;
  bundle.members[1].meta.architecture = "mipsbe";
  return bundle;
}

std::vector<std::string> sorted(std::vector<std::string> texts) {
  std::sort(texts.begin(), texts.end());
  return texts;
}

// Scans root's "pckg/" directory; the records found, sorted by name.
std::vector<std::unique_ptr<PackageFile>> scan(const ScratchRoot& root, Messages* messages) {
  ConsoleCapture console;
  Repository& repository = freshRepository();
  std::vector<std::unique_ptr<PackageFile>> found;
  scanPackageFiles(root.at("pckg/"), found);
  std::sort(found.begin(), found.end(),
            [](const auto& x, const auto& y) { return x->name < y->name; });
  *messages = sorted(repository.messageLog);
  return found;
}

TEST(ScanPackageFiles, ReadsVisiblePackageFilesAndBundleMembersInOrder) {
  ScratchRoot root;
  const std::string a = buildPackageFile(packageSpec("a"));
  root.write("pckg/a.zpk", a);
  root.write("pckg/b.wpk", buildPackageFile(packageSpec("b"), kAltPackageMagic));
  root.write("pckg/routeros.zpk", buildBundleFile(bundleSpec()));
  for (const char* ignored : {"pckg/.hidden.zpk", "pckg/notes.txt", "pckg/x.ZPK", "pckg/c.zpk.1"})
    root.write(ignored, "not a package");

  Messages messages;
  const auto found = scan(root, &messages);
  EXPECT_TRUE(messages.empty());
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[0]->path, root.at("pckg/a.zpk"));
  EXPECT_EQ(found[0]->sourcePath, found[0]->path);
  EXPECT_EQ(found[0]->declaredSize, a.size());
  EXPECT_FALSE(found[0]->altMagic);
  EXPECT_EQ(found[0]->architecture, "i386");
  EXPECT_TRUE(found[1]->altMagic);

  const PackageFile& bundle = *found[2];
  EXPECT_TRUE(bundle.isBundle);
  EXPECT_TRUE(bundle.hasOpaquePayload);
  ASSERT_EQ(bundle.members.size(), 2u);
  EXPECT_EQ(bundle.members[0]->name + bundle.members[0]->architecture, "systemi386");
  EXPECT_EQ(bundle.members[1]->name + bundle.members[1]->architecture, "dhcpmipsbe");
  EXPECT_TRUE(bundle.members[1]->hasOpaquePayload);
}

TEST(ScanPackageFiles, BrokenFilesAreReportedByName) {
  const std::string good = buildPackageFile(packageSpec("a"));
  PartWriter cutHeader;
  cutHeader.part(PackageHeaderPart, std::string(20, 'n'));
  BundleLayout empty = bundleSpec();
  empty.members.clear();
  // A bundle whose second member's header record is cut short.
  BundleLayout full = bundleSpec();
  std::string cutMember = buildBundleFile(full);
  cutMember.resize(cutMember.size() - encodePackageParts(full.members[1]).size() + 20);
  writeLe32(reinterpret_cast<uint8_t*>(cutMember.data()) + 4, cutMember.size() - 8);

  ScratchRoot root;
  root.write("pckg/longer.zpk", good + "x");
  root.write("pckg/shorter.zpk", good.substr(0, good.size() - 1));
  root.write("pckg/magic.zpk", "\x11\x22\x33\x44" + good.substr(4));
  root.write("pckg/header.wpk", cutHeader.file(kPackageMagic));
  root.write("pckg/nomembers.zpk", buildBundleFile(empty));
  root.write("pckg/cutmember.zpk", cutMember);

  Messages messages;
  EXPECT_TRUE(scan(root, &messages).empty());
  Messages expected;
  for (const char* name :
       {"longer.zpk", "shorter.zpk", "magic.zpk", "header.wpk", "nomembers.zpk", "cutmember.zpk"})
    expected.push_back(std::string("ERROR: broken package ") + name);
  EXPECT_EQ(messages, sorted(expected));
}

TEST(ScanInstalledImages, BundleMembersComeRightBeforeTheBundle) {
  for (const bool imageDirectory : {false, true}) {
    ScratchRoot root;
    PackageLayout wireless = packageSpec("wireless");
    wireless.meta.note = "radio";
    wireless.meta.architecture = "mipsbe";
    wireless.hasPayload = true;
    wireless.payload = std::string(100000, 'p');
    const auto image = [&](const std::string& name) {
      return imageDirectory ? "rw/pckg/.images/" + name : "flash/var/pdb/" + name + "/image";
    };
    root.write(image("wireless"), buildPackageFile(wireless));
    root.write(image("routeros"), buildBundleFile(bundleSpec()));
    for (const char* name : {"wireless", "routeros", "noimage"})
      root.makeDirectory(std::string("flash/var/pdb/") + name);

    EXPECT_TRUE(inRoot(root, [&] {
      ConsoleCapture console;
      Repository& repository = freshRepository();
      ASSERT_TRUE(scanInstalledImages(repository, "/rw/pckg/.images/", imageDirectory));
      std::vector<std::string> names;
      for (const auto& package : repository.packages) names.push_back(package->name);
      ASSERT_EQ(sorted(names), sorted({"dhcp", "routeros", "system", "wireless"}));
      const auto at = [&](const char* name) -> const InstalledPackage& {
        return *repository.packages[std::find(names.begin(), names.end(), name) - names.begin()];
      };
      const auto bundle = std::find(names.begin(), names.end(), "routeros") - names.begin();
      ASSERT_GE(bundle, 2);
      EXPECT_EQ(names[bundle - 2] + names[bundle - 1], "systemdhcp");
      for (const char* member : {"system", "dhcp"}) {
        const DependencyEntry& reference = at(member).bundle;
        EXPECT_EQ(reference.name, "routeros");
        EXPECT_EQ(reference.minVersion, kVersion);
        EXPECT_EQ(reference.maxVersion, kVersion);
      }
      EXPECT_EQ(at("wireless").note, "radio");
      EXPECT_EQ(at("wireless").architecture, "i386");  // not among the parts an image scan reads
      EXPECT_TRUE(at("wireless").bundle.name.empty());
    }));
  }
  ScratchRoot bare;
  EXPECT_TRUE(inRoot(bare, [&] {
    EXPECT_FALSE(scanInstalledImages(freshRepository(), "/rw/pckg/.images/", false));
  }));
}

}  // namespace
