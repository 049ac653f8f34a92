#include "pkgfile/discovery.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "pdb/repository.h"
#include "pkgtool/package_builder.h"
#include "support/console_capture.h"
#include "support/scratch_root.h"

namespace {

PackageLayout layoutOf(const std::string& name, const std::string& architecture = "") {
  PackageLayout layout;
  layout.meta.name = name;
  layout.meta.version = 0x062A6603;  // 6.42.3
  layout.meta.architecture = architecture;
  layout.meta.note = "note of " + name;
  layout.hasPayload = !architecture.empty();
  return layout;
}

// Bundle core-6.42.3 with an entry table part, which the scans pass over, and then
// the members' parts.
std::string bundleFile(const std::string& members) {
  BundleLayout bundle;
  bundle.meta = layoutOf("core").meta;
  bundle.entryTable = {{"system", 1, 0, 0}};
  PartWriter writer;
  writer.raw(encodeBundleHead(bundle) + members);
  return writer.file(kPackageMagic);
}

// Two members, the second with a payload part.
std::string members() {
  return encodePackageParts(layoutOf("system")) + encodePackageParts(layoutOf("dhcp", "mips"));
}

std::string describe(const Package& package) {
  std::string text = package.name + " " + package.architecture + " " + package.note;
  if (package.hasOpaquePayload) text += " payload";
  for (const auto& member : package.members) text += " (" + describe(*member) + ")";
  return text;
}

TEST(ScanPackageFiles, ReadsWholeVisiblePackageFilesAndReportsBrokenOnes) {
  const std::string good = buildPackageFile(layoutOf("a"));
  PartWriter cut;  // a header record cut short
  cut.part(PackageHeaderPart, std::string(20, 'n'));
  const std::pair<std::string, std::string> files[] = {
      {"a.zpk", good}, {"b.wpk", buildPackageFile(layoutOf("b"), kAltPackageMagic)},
      {"core.zpk", bundleFile(members())}, {".hidden.zpk", good}, {"notes.txt", good},
      {"x.ZPK", good}, {"c.zpk.1", good}, {"longer.zpk", good + "x"},
      {"shorter.zpk", good.substr(0, good.size() - 1)}, {"header.wpk", cut.file(kPackageMagic)},
      {"nomembers.zpk", bundleFile("")},
      {"cutmember.zpk", bundleFile(encodePackageParts(layoutOf("system")) + cut.body())}};
  ScratchRoot root;
  for (const auto& [name, content] : files) root.write("pckg/" + name, content);
  // No regular files: a FIFO would block for ever, a directory fails every read.
  ASSERT_EQ(mkfifo(root.at("pckg/pipe.zpk").c_str(), 0600), 0);
  root.makeDirectory("pckg/folder.zpk");

  ConsoleCapture console;
  Repository& repository = freshRepository();
  std::vector<std::unique_ptr<PackageFile>> found;
  scanPackageFiles(root.at("pckg/"), found);
  std::sort(found.begin(), found.end(), [](auto& x, auto& y) { return x->name < y->name; });
  std::vector<std::string> texts;
  for (const auto& file : found)
    texts.push_back(describe(*file) + (file->altMagic ? " alt " : " ") +
                    file->path.substr(root.at("pckg/").size()));
  EXPECT_EQ(texts, (std::vector<std::string>{
                       "a i386 note of a a.zpk", "b i386 note of b alt b.wpk",
                       "core i386 note of core payload (system i386 note of system) "
                       "(dhcp mips note of dhcp payload) core.zpk"}));
  std::sort(repository.messageLog.begin(), repository.messageLog.end());
  EXPECT_EQ(repository.messageLog,
            (std::vector<std::string>{
                "ERROR: broken package cutmember.zpk", "ERROR: broken package folder.zpk",
                "ERROR: broken package header.wpk", "ERROR: broken package longer.zpk",
                "ERROR: broken package nomembers.zpk", "ERROR: broken package pipe.zpk",
                "ERROR: broken package shorter.zpk"}));
}

TEST(ScanInstalledImages, BundleMembersComeRightBeforeTheBundle) {
  PackageLayout wireless = layoutOf("wireless", "mips");
  wireless.payload = std::string(100000, 'p');
  for (const bool imageDirectory : {false, true}) {
    ScratchRoot root;
    for (const char* name : {"wireless", "core", "noimage"})
      root.makeDirectory(std::string("flash/var/pdb/") + name);
    const std::string prefix = imageDirectory ? "rw/pckg/.images/" : "flash/var/pdb/";
    const std::string suffix = imageDirectory ? "" : "/image";
    root.write(prefix + "wireless" + suffix, buildPackageFile(wireless));
    root.write(prefix + "core" + suffix, bundleFile(members()));
    EXPECT_TRUE(inRoot(root, [&] {
      ConsoleCapture console;
      Repository& repository = freshRepository();
      ASSERT_TRUE(scanInstalledImages(repository, imageDirectory ? "/rw/pckg/.images/" : ""));
      std::string order;
      for (const auto& package : repository.packages)
        order += describe(*package) + " <" + bundleRefName(package->bundle) + " " +
                 std::to_string(package->bundle.maxVersion) + ">\n";
      // The architecture part is not among those an image scan reads.
      const std::string bundle = "system i386 note of system <core-6.42.3 103441923>\n"
                                 "dhcp i386 note of dhcp <core-6.42.3 103441923>\n"
                                 "core i386 note of core < 0>\n";
      const std::string alone = "wireless i386 note of wireless < 0>\n";
      EXPECT_TRUE(order == bundle + alone || order == alone + bundle) << order;
    }));
  }
  ScratchRoot bare;  // no "/flash/var/pdb/"
  EXPECT_TRUE(inRoot(bare, [] { EXPECT_FALSE(scanInstalledImages(freshRepository(), "")); }));
}

// Images that are no regular files cannot be opened, like package files; names that
// are no safe package names are dropped.
TEST(ScanInstalledImages, OnlyRegularFilesAndSafePackageNames) {
  ScratchRoot root;
  root.makeDirectory("flash/var/pdb/folder/image");
  root.makeDirectory("flash/var/pdb/pipe");
  ASSERT_EQ(mkfifo(root.at("flash/var/pdb/pipe/image").c_str(), 0600), 0);
  root.write("flash/var/pdb/evil/image",
             bundleFile(encodePackageParts(layoutOf("../../../etc/x")) +
                        encodePackageParts(layoutOf("forged\nrow")) +
                        encodePackageParts(layoutOf("dhcp"))));
  EXPECT_TRUE(inRoot(root, [&] {
    ConsoleCapture console;
    Repository& repository = freshRepository();
    ASSERT_TRUE(scanInstalledImages(repository, ""));
    std::string names;
    for (const auto& package : repository.packages) names += package->name + " ";
    EXPECT_EQ(names, "dhcp core ");
    EXPECT_EQ(repository.messageLog, std::vector<std::string>{});
  }));
}

}  // namespace
