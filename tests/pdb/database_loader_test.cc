#include "pdb/database_loader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <sstream>

#include "pdb/repository.h"
#include "pkgtool/package_builder.h"
#include "support/console_capture.h"
#include "support/scratch_root.h"

namespace {

// Opens the repository of root; the console, then one line per package in array order
// (sorted when the directory order does not matter): name, version, build time, each
// entry of its lists (d:, p:, c:), its bundle (b:) and files (f:), then B (isBundle),
// D (disabled), U (userChosen) and the scheduled action.
std::string opened(const ScratchRoot& root, bool sorted = false) {
  EXPECT_TRUE(inRoot(root, [&] {
    ConsoleCapture console;
    freshRepository().open("i386", false);
    std::vector<std::string> lines;
    for (const auto& p : Repository::instance().packages) {
      std::ostringstream out;
      out << p->name << ' ' << p->version << ' ' << p->buildTime;
      for (const auto& [tag, list] :
           {std::pair{" d:", &p->dependencies}, {" p:", &p->provides}, {" c:", &p->conflicts}})
        for (const DependencyEntry& e : *list)
          out << tag << e.name << ',' << e.minVersion << ',' << e.maxVersion << ',' << e.priority;
      if (!p->bundle.name.empty()) out << " b:" << p->bundle.name;
      for (const std::string& file : p->files) out << " f:" << file;
      out << ' ' << "-B"[p->isBundle] << "-D"[p->disabled] << "-U"[p->userChosen];
      lines.push_back(out.str() + std::to_string(static_cast<uint32_t>(p->scheduledAction)) + '\n');
    }
    if (sorted) std::sort(lines.begin(), lines.end());
    writeFile("/result", std::accumulate(lines.begin(), lines.end(), console.text()));
  }));
  return root.read("result");
}

TEST(DatabaseLoader, MetadataOnlyPackages) {
  ScratchRoot root;
  for (const char* name : {"d", "e", "f", "g", "h", "i", "j", "k", "a.b_c-2", "n"})
    root.write(std::string("flash/var/pdb/") + name + "/version", "1 2\n");
  const std::pair<const char*, const char*> files[] = {
      {"a/version", "1 2"}, {"b/version", "5 6\n"}, {"b/deps", "x 1 4294967295"},
      {"b/conflicts", "y\t3\n\n4   z 5 6"}, {"c/version", "5 6\n"},
      {"c/provides", "w 1 2 -3 x 1 2"}, {"c/deps", "d 1 2"},
      {"d/files", "bin/a\n/bin/b\n\nbin/a\nlast"}, {"e/disabled", "auto\n"},
      {"e/enabled", ""}, {"f/disabled", ""}, {"g/enabled", "junk"}, {"m/deps", "x"},
      {"n/bundle", "core\n"}, {"o/version", "4294967295 4294967295\n"}, {"p/version", "7"},
      {".hidden/version", "1 2"}};
  for (const auto& [path, content] : files)
    root.write(std::string("flash/var/pdb/") + path, content);
  const std::pair<const char*, const char*> schedules[] = {
      {"h", "Enable"}, {"i", "enable"}, {"j", "disable\n"}, {"k", "  uninstall x"},
      {"abc-2", "enable"}, {"a.b_c-2", "disable"}, {"m", "disable"}, {"o", "uninstall"}};
  for (const auto& [name, word] : schedules)
    root.write(std::string("ram/pdb/") + name + "/schedule", word);
  EXPECT_EQ(opened(root, true),
            "a 1 2 B--0\n" "a.b_c-2 1 2 B-U2\n"
            "b 5 6 d:x,1,4294967295,0 c:y,3,4,0 c:z,5,6,0 B--0\n"
            "c 5 6 d:d,1,2,0 p:w,1,2,-3 B--1\n" "d 1 2 f:/bin/a f:/bin/b f:/last ---0\n"
            "e 1 2 BD-0\n" "f 1 2 BDU0\n" "g 1 2 B-U0\n"
            "h 1 2 B--0\n" "i 1 2 B-U2\n" "j 1 2 B-U3\n" "k 1 2 B--1\n" "m 0 0 B-U3\n"
            "n 1 2 b:core B--1\n" "o 4294967295 4294967295 B--0\n" "p 7 0 B--1\n");
}

PackageLayout layout(const std::string& name, Version version, bool payload = true) {
  PackageLayout layout;
  layout.meta.name = name;
  layout.meta.version = version;
  layout.hasPayload = payload;
  return layout;
}

TEST(DatabaseLoader, ImagesFromTheDatabaseThenTheImageDirectoryThenMetadata) {
  ScratchRoot root;
  root.write("rw/pckg/.images/side", buildPackageFile(layout("side", 2)));
  root.write("flash/var/pdb/core/image",
             buildBundleFile({layout("core", 9).meta, true, "", {},
                              {layout("dhcp", 4, false), layout("wireless", 5, false)}}));
  // A member's directory is not loaded a second time, nor its description read, but
  // its file list is. Directories named with a blank or a control character hold no
  // package.
  const std::pair<const char*, const char*> files[] = {
      {"flash/var/pdb/meta/version", "3 3\n"}, {"flash/var/pdb/side/disabled", "user"},
      {"flash/var/pdb/dhcp/bundle", "core\n"}, {"flash/var/pdb/dhcp/disabled", "auto\n"},
      {"flash/var/pdb/dhcp/version", "7 7\n"}, {"flash/var/pdb/dhcp/files", "flash/bin/dhcp\n"},
      {"ram/pdb/wireless/schedule", "disable"}, {"flash/var/pdb/two words/version", "1 1\n"},
      {"flash/var/pdb/forged\nrow/version", "1 1\n"}};
  for (const auto& [path, content] : files) root.write(path, content);
  EXPECT_EQ(opened(root), "dhcp 4 0 b:core f:/flash/bin/dhcp -D-0\n" "wireless 5 0 b:core --U3\n"
                          "core 9 0 B--0\n" "side 2 0 -DU0\n" "meta 3 3 B--0\n");
}

}  // namespace
