// plan of the real tool: a dry run of the upgrade on a throw-away view of a scratch
// router root, which must leave the root as it was and foretell exactly what the
// real upgrade of the same root then does.

#include <sys/statfs.h>

#include <filesystem>
#include <map>
#include <set>
#include <tuple>

#include "pkgtool/pkgtool_runner.h"
#include "support/console_text.h"
#include "support/signed_packages.h"

namespace {

const std::string kDownload = "rw/pckg/.download/";

// A signed package file of name at version major.0 with the files (path, content).
std::string packageFile(const std::string& name, unsigned major,
                        const std::vector<std::pair<std::string, std::string>>& files) {
  std::vector<ContainerEntry> entries;
  for (const auto& [path, data] : files) entries.push_back({path, kRegularFileType | 0644, data});
  return signedPackageFile(packageLayout(name, major << 24 | 'f' << 8, entries));
}

// Installed: base 1 (three files), extra 1 and tool 1; extra is to be disabled and
// tool uninstalled by their schedule words.
void layOutInstalledSet(const ScratchRoot& root) {
  root.makeDirectory("flash/var/pdb");
  root.write(
      kDownload + "base.zpk",
      packageFile("base", 1,
                  {{"bin/base", "base 1"}, {"etc/base.conf", "conf"}, {"lib/old.so", "old"}}));
  root.write(kDownload + "extra.zpk", packageFile("extra", 1, {{"bin/extra", "x"}}));
  root.write(kDownload + "tool.zpk", packageFile("tool", 1, {{"bin/tool", "t"}}));
  EXPECT_EQ(runInstaller(root, {}).status, 0);
  std::filesystem::remove_all(root.at(kDownload));
  root.write("ram/pdb/extra/schedule", "disable\n");
  root.write("ram/pdb/tool/schedule", "uninstall\n");
}

// The package changes between two documents of "db --json" ("installed NAME FROM->TO",
// "enabled NAME", "disabled NAME", "uninstalled NAME"), or those a plan lists.
std::set<std::string> packageChanges(const json& before, const json& after) {
  std::map<std::string, json> old;
  for (const json& package : before["packages"]) old[package["name"]] = package;
  std::set<std::string> changes;
  for (const json& now : after["packages"]) {
    const std::string name = now["name"];
    const json was = old.contains(name) ? old[name] : json::object();
    if (was.value("versionText", "") != now["versionText"] ||
        was.value("buildTime", 0) != now["buildTime"])
      changes.insert("installed " + name + " " + was.value("versionText", "") + "->" +
                     now.value("versionText", ""));
    if (!was.empty() && was["disabled"] != now["disabled"])
      changes.insert((now["disabled"] ? "disabled " : "enabled ") + name);
    old.erase(name);
  }
  for (const auto& [name, package] : old) changes.insert("uninstalled " + name);
  return changes;
}
std::set<std::string> packageChanges(const json& plan) {
  std::set<std::string> changes;
  for (const json& p : plan["installed"])
    changes.insert("installed " + p.value("name", "") + " " +
                   (p["from"].is_null() ? "" : p.value("from", "")) + "->" +
                   p.value("version", ""));
  for (const std::string word : {"enabled", "disabled", "uninstalled"})
    for (const json& package : plan[word]) changes.insert(word + " " + package.value("name", ""));
  return changes;
}

// The entries below "/flash" (not directories) that differ between two tree snapshots,
// as a plan lists them.
json fileChanges(const std::string& before, const std::string& after) {
  std::map<std::string, std::string> entries[2];
  for (int i = 0; i < 2; ++i) {
    std::istringstream lines(i == 0 ? before : after);
    for (std::string line; std::getline(lines, line);)
      if (line.rfind("/flash/", 0) == 0 && line.back() != '/')
        entries[i][line.substr(0, line.find(' '))] = line;
  }
  json changes = {
      {"added", json::array()}, {"replaced", json::array()}, {"removed", json::array()}};
  for (const auto& [path, line] : entries[1])
    if (!entries[0].contains(path))
      changes["added"].push_back(path);
    else if (entries[0][path] != line)
      changes["replaced"].push_back(path);
  for (const auto& [path, line] : entries[0])
    if (!entries[1].contains(path)) changes["removed"].push_back(path);
  return changes;
}

json db(const ScratchRoot& root) {
  return json::parse(pkgtool(root, "db --json @").out, nullptr, false);
}

uint64_t freeBytes(const std::string& path) {
  struct statfs volume;
  return statfs(path.c_str(), &volume) == 0 ? uint64_t{volume.f_bfree} * volume.f_bsize : 0;
}

// The offered upgrade: base 2 replaces one file, keeps one as it was, drops one and
// adds one; fresh 1 is new.
const std::map<std::string, std::string>& offered() {
  static const std::map<std::string, std::string> files = {
      {"base-2.zpk",
       packageFile("base", 2,
                   {{"bin/base", "base 2"}, {"etc/base.conf", "conf"}, {"lib/new.so", "new"}})},
      {"fresh-1.zpk", packageFile("fresh", 1, {{"bin/fresh", "f"}})}};
  return files;
}

TEST(PkgtoolPlan, ForetellsTheRealUpgradeAndLeavesTheRootAsItWas) {
  const std::set<std::string> upgraded = {"installed base 1.0->2.0", "installed fresh ->1.0",
                                          "disabled extra", "uninstalled tool"};
  // What, whether the files are offered on the command line (else they wait in the
  // download directory), whether flash is a tmpfs, the exit status, the package changes.
  const std::tuple<const char*, bool, bool, int, std::set<std::string>> cases[] = {
      {"waiting files, plain flash", false, false, 0, upgraded},
      {"offered files, flash on a tmpfs", true, true, 0, upgraded},
      {"no room on the tmpfs", false, true, 28, {}}};
  for (const auto& [what, offerOnCommandLine, flashOnTmpfs, status, packages] : cases) {
    SCOPED_TRACE(what);
    ScratchRoot root;
    ScratchRoot offers;  // the offered files, and TMPDIR for the view
    if (flashOnTmpfs && !root.mountTmpfs("flash", 1 << 20))
      GTEST_SKIP() << "cannot mount a tmpfs here";
    layOutInstalledSet(root);
    // Eight pages left: the upgrade does not fit.
    if (status == 28)
      root.write("flash/filler", std::string(freeBytes(root.at("flash")) - 8 * 4096, 'f'));
    std::vector<std::string> argv = {PKGTOOL_BINARY, "plan", "--json", root.path()};
    for (const auto& [name, file] : offered()) {
      offers.write(name, file);
      if (offerOnCommandLine)
        argv.push_back(offers.at(name));
      else
        root.write(kDownload + name, file);
    }
    // With files offered, what waits in the download directory is not taken.
    if (offerOnCommandLine) root.write(kDownload + "stale.zpk", packageFile("base", 3, {}));
    const std::string before = treeSnapshot(root.path());
    const json dbBefore = db(root);

    offers.makeDirectory("tmp");
    const RunResult run = runProgram(argv, "", {"TMPDIR=" + offers.at("tmp")});
    EXPECT_EQ(run.status, status) << run.err;
    EXPECT_EQ(treeSnapshot(root.path()), before);
    EXPECT_TRUE(std::filesystem::is_empty(offers.at("tmp")));
    const json plan = json::parse(run.out, nullptr, false);
    ASSERT_TRUE(plan.is_object()) << run.out;
    EXPECT_EQ(plan["status"], status);
    EXPECT_EQ(packageChanges(plan), packages);

    // The real upgrade of the same root: the same lines (unrelated packages go in the
    // order of their directory), package changes and files.
    std::filesystem::remove(root.at(kDownload + "stale.zpk"));
    for (const auto& [name, file] : offered()) root.write(kDownload + name, file);
    const uint64_t freeBefore = freeBytes(root.at("flash"));
    const RunResult real = runInstaller(root, {});
    EXPECT_EQ(real.status, status);
    std::multiset<std::string> lines;
    std::istringstream console(splitConsole(real.out).lines);
    for (std::string line; std::getline(console, line);) lines.insert(line);
    EXPECT_EQ(plan["console"].get<std::multiset<std::string>>(), lines);
    EXPECT_EQ(packageChanges(plan), packageChanges(dbBefore, db(root)));
    const json files = fileChanges(before, treeSnapshot(root.path()));
    EXPECT_EQ(plan["files"], files);
    EXPECT_EQ(files.dump().find("\"removed\":[\"/flash/bin/tool\",\"/flash/lib/old.so\"") !=
                  std::string::npos,
              status == 0)
        << files;
    // On a volume of its own the room before and after is exact.
    const json flash = {
        {"path", "/flash"}, {"freeBefore", freeBefore}, {"freeAfter", freeBytes(root.at("flash"))}};
    if (flashOnTmpfs) {
      EXPECT_EQ(plan["volumes"][0], flash);
    }
    EXPECT_EQ(plan["volumes"][1],
              R"({"path":"/flash/boot","freeBefore":null,"freeAfter":null})"_json);
  }
}

// The readable plan: the installer's lines, then one line per change.
TEST(PkgtoolPlan, PrintsTheInstallersLinesThenThePlan) {
  ScratchRoot root;
  root.makeDirectory("flash/var/pdb");
  root.write(kDownload + "fresh-1.zpk", offered().at("fresh-1.zpk"));
  const std::string out = pkgtool(root, "plan @").out;
  EXPECT_EQ(out.substr(0, out.find("added        /flash/postlog")),
            "installed fresh-1.0\n"
            "--- plan (a dry run: the root is unchanged, the boot stage did not run)\n"
            "installed    fresh 1.0 (new)\n"
            "added        /flash/PCKGS_CHANGED\n"
            "added        /flash/bin/fresh\n");
  EXPECT_NE(out.find("\nstatus       0 (the installer's exit status)\n"), std::string::npos) << out;
}

TEST(PkgtoolPlan, RefusesWithoutAnInstallerOrTheRights) {
  ScratchRoot root;
  EXPECT_EQ(pkgtool(root, "plan --installer @none @", 2).err,
            "pkgtool: no installer to run at " + root.at("none") +
                ": No such file or directory (name one with --installer)\n");
  const RunResult nobody = runProgram({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                       "--clear-groups", PKGTOOL_BINARY, "plan", root.path()});
  EXPECT_EQ(nobody.status, 2);
  EXPECT_NE(nobody.err.find("pkgtool: plan needs root"), std::string::npos) << nobody.err;
}

}  // namespace
