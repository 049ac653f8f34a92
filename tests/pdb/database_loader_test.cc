#include "pdb/database_loader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "pdb/repository.h"
#include "pkgtool/package_builder.h"
#include "support/console_capture.h"
#include "support/scratch_root.h"

namespace {

// One line per package: name, version, build time, the three lists, bundle name,
// files, then B (isBundle), D (disabled), U (userChosen) and the scheduled action.
std::string summary(const InstalledPackage& p) {
  std::ostringstream out;
  out << p.name << ' ' << p.version << ' ' << p.buildTime;
  for (const auto* list : {&p.dependencies, &p.provides, &p.conflicts}) {
    out << " [";
    for (const DependencyEntry& e : *list)
      out << e.name << ',' << e.minVersion << ',' << e.maxVersion << ',' << e.priority << ';';
    out << ']';
  }
  out << " bundle=" << p.bundle.name << " files=";
  for (const std::string& file : p.files) out << file << ';';
  out << ' ' << (p.isBundle ? 'B' : '-') << (p.disabled ? 'D' : '-') << (p.userChosen ? 'U' : '-')
      << p.scheduledAction << '\n';
  return out.str();
}

// Opens the repository of root; the console, then one summary line per package
// in array order (sorted when the directory order does not matter).
std::string opened(const ScratchRoot& root, bool sorted) {
  EXPECT_TRUE(inRoot(root, [&] {
    Repository& repository = freshRepository();
    ConsoleCapture console;
    repository.open("i386", false);
    std::vector<std::string> lines;
    for (const auto& package : repository.packages) lines.push_back(summary(*package));
    if (sorted) std::sort(lines.begin(), lines.end());
    std::string text = console.text();
    for (const std::string& line : lines) text += line;
    writeFile("/result", text);
  }));
  return root.read("result");
}

TEST(DatabaseLoader, MetadataOnlyPackages) {
  ScratchRoot root;
  const std::pair<const char*, const char*> files[] = {
      {"a/version", "1 2"},
      {"b/version", "5 6\n"}, {"b/deps", "x 1 2"}, {"b/conflicts", "y\t3\n\n4   z 5 6"},
      {"c/version", "5 6\n"}, {"c/provides", "x 1 2"}, {"c/deps", "d 1 2"},
      {"d/version", "1 2\n"}, {"d/files", "bin/a\n/bin/b\n\nbin/a\nlast"},
      {"e/version", "1 2\n"}, {"e/disabled", "auto\n"}, {"e/enabled", ""},
      {"f/version", "1 2\n"}, {"f/disabled", ""},
      {"g/version", "1 2\n"}, {"g/enabled", "junk"},
      {"h/version", "1 2\n"}, {"i/version", "1 2\n"}, {"j/version", "1 2\n"},
      {"k/version", "1 2\n"}, {"a.b_c/version", "1 2\n"},
      {"m/deps", "x"}, {"n/version", "1 2\n"}, {"n/bundle", "routeros\n"},
      {"o/version", "4294967295 4294967295\n"}, {"p/version", "7"}, {".hidden/version", "1 2"},
  };
  for (const auto& [path, content] : files) root.write(std::string("flash/var/pdb/") + path, content);
  const std::pair<const char*, const char*> schedules[] = {
      {"h", "Enable"}, {"i", "enable"}, {"j", "disable\n"}, {"k", "  uninstall x"},
      {"abc", "enable"}, {"a.b_c", "disable"}, {"m", "disable"}, {"o", "uninstall"}};
  for (const auto& [name, word] : schedules) root.write(std::string("ram/pdb/") + name + "/schedule", word);

  EXPECT_EQ(opened(root, true),
            "a 1 2 [] [] [] bundle= files= B--0\n"
            "a.b_c 1 2 [] [] [] bundle= files= B-U2\n"
            "b 5 6 [x,1,2,0;] [] [y,3,4,0;z,5,6,0;] bundle= files= B--0\n"
            "c 5 6 [d,1,2,0;] [] [] bundle= files= B--1\n"
            "d 1 2 [] [] [] bundle= files=/bin/a;/bin/b;/last; ---0\n"
            "e 1 2 [] [] [] bundle= files= BD-0\n"
            "f 1 2 [] [] [] bundle= files= BDU0\n"
            "g 1 2 [] [] [] bundle= files= B-U0\n"
            "h 1 2 [] [] [] bundle= files= B--0\n"
            "i 1 2 [] [] [] bundle= files= B-U2\n"
            "j 1 2 [] [] [] bundle= files= B-U3\n"
            "k 1 2 [] [] [] bundle= files= B--1\n"
            "m 0 0 [] [] [] bundle= files= B-U3\n"
            "n 1 2 [] [] [] bundle=routeros files= B--1\n"
            "o 4294967295 4294967295 [] [] [] bundle= files= B--0\n"
            "p 7 0 [] [] [] bundle= files= B--1\n");
}

std::string image(const std::string& name, Version version) {
  PackageLayout layout;
  layout.meta.name = name;
  layout.meta.version = version;
  layout.hasPayload = true;
  return buildPackageFile(layout);
}

TEST(DatabaseLoader, ImagesFromTheDatabaseThenTheImageDirectoryThenMetadata) {
  ScratchRoot root;
  root.write("flash/var/pdb/meta/version", "3 3\n");
  root.write("flash/var/pdb/side/disabled", "user");
  root.write("rw/pckg/.images/side", image("side", 2));
  root.write("rw/pckg/.images/stray", image("stray", 2));  // no directory: not installed
  BundleLayout bundle;
  bundle.meta.name = "routeros";
  bundle.meta.version = 9;
  bundle.members.resize(2);
  bundle.members[0].meta = Package("dhcp");
  bundle.members[0].meta.version = 4;
  bundle.members[1].meta = Package("wireless");
  bundle.members[1].meta.version = 5;
  root.write("flash/var/pdb/routeros/image", buildBundleFile(bundle));
  // A member's directory is not loaded a second time, nor its description read.
  root.write("flash/var/pdb/dhcp/version", "1 1\n");
  root.write("flash/var/pdb/dhcp/bundle", "routeros\n");
  root.write("flash/var/pdb/dhcp/disabled", "auto\n");
  root.write("ram/pdb/wireless/schedule", "disable");
  EXPECT_EQ(opened(root, false),
            "dhcp 4 0 [] [] [] bundle=routeros files= -D-0\n"
            "wireless 5 0 [] [] [] bundle=routeros files= --U3\n"
            "routeros 9 0 [] [] [] bundle= files= B--0\n"
            "side 2 0 [] [] [] bundle= files= -DU0\n"
            "meta 3 3 [] [] [] bundle= files= B--0\n");
}

TEST(DatabaseLoader, MissingDatabaseWarnsAndLoadsNothing) {
  ScratchRoot root;
  root.write("rw/pckg/.images/side", image("side", 2));
  EXPECT_EQ(opened(root, false), "WARNING: could not open repo\n");
}

TEST(DatabaseLoader, EntryListsKeepEntriesReadBeforeAFault) {
  ScratchRoot root;
  writeFile(root.at("list"), "a 1 2 -3\nb 4 5 6\nc 7 8\n");
  std::vector<DependencyEntry> entries(1);
  EXPECT_FALSE(readEntryList(root.at("list"), entries, true));
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[1].priority, -3);
  EXPECT_EQ(entries[2].name, "b");
  EXPECT_TRUE(readEntryList(root.at("missing"), entries, false));
  writeFile(root.at("list"), "a 1 99999999999\n");
  EXPECT_FALSE(readEntryList(root.at("list"), entries, false));
  EXPECT_EQ(entries.size(), 3u);
  EXPECT_EQ(scheduleFileName(std::string("wifi-ac_2.x\xe9/", 13)), "wifi-ac2x");
}

}  // namespace
