// The enable, disable and uninstall schedule over a hand-made installed set, run in
// a scratch root: what remains, in which state, the messages, and the file changes.

#include "engine/schedule.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "changes/change_set.h"
#include "support/console_capture.h"
#include "support/scratch_root.h"

namespace {

using enum ScheduledAction;

// One installed package of version 6.42: flags D (disabled), U (user-chosen), B (a
// bundle); its action; the bundle it came from; the names it needs, provides and
// conflicts with.
struct Record {
  std::string name;
  std::string flags = {};
  ScheduledAction action = None;
  std::string bundle = {};
  std::vector<std::string> needs = {}, provides = {}, conflicts = {};
};

std::vector<DependencyEntry> entries(const std::vector<std::string>& names) {
  std::vector<DependencyEntry> list;
  for (const std::string& name : names) list.push_back({name, 0, 0, 0});
  return list;
}

// Runs the schedule with messages over the records, each with a database directory
// holding "files" and its state files, and returns: the packages left ("name",
// then ! when disabled and * when user-chosen), the messages, and the changes
// ("U path" for a deletion, "W path content" for a written file).
std::string scheduled(const std::vector<Record>& records) {
  ScratchRoot root;
  for (const Record& r : records) {
    const std::string directory = "flash/var/pdb/" + r.name + "/";
    root.write(directory + "files", "flash/bin/" + r.name + "\n");
    root.write("flash/bin/" + r.name, "");
    if (r.flags.find_first_of("DU") != std::string::npos)
      root.write(directory + (r.flags.find('D') != std::string::npos ? "disabled" : "enabled"),
                 "user\n");
  }
  EXPECT_TRUE(inRoot(root, [&] {
    ConsoleCapture console;
    Repository& repository = freshRepository();
    for (const Record& r : records) {
      auto& package = repository.packages.emplace_back(new InstalledPackage(r.name));
      package->version = 0x062A6600;
      package->disabled = r.flags.find('D') != std::string::npos;
      package->userChosen = r.flags.find('U') != std::string::npos;
      package->isBundle = r.flags.find('B') != std::string::npos;
      package->scheduledAction = r.action;
      package->bundle.name = r.bundle;
      package->dependencies = entries(r.needs);
      package->provides = entries(r.provides);
      package->conflicts = entries(r.conflicts);
      if (!package->isBundle) package->files.insert("/flash/bin/" + r.name);
    }
    ChangeSet changes;
    applySchedule(repository, changes, true);
    std::string text = "left:";
    for (const auto& p : repository.packages)
      text += " " + p->name + (p->disabled ? "!" : "") + (p->userChosen ? "*" : "");
    text += "\n";
    for (const std::string& message : repository.messageLog) text += message + "\n";
    for (const auto& [path, change] : changes.entries())
      text += change.op == ChangeOp::Delete ? "U " + path + "\n"
                                            : "W " + path + " " + readFile(change.argument);
    changes.discard();
    writeFile("/result", text);
  }));
  return root.read("result");
}

TEST(Schedule, CarriesOutTheActions) {
  const std::tuple<const char*, std::vector<Record>, std::string> cases[] = {
      {"nothing pending and nothing installed", {}, "left:\n"},
      // A bundle's disable reaches its members; the bundle is disabled too and keeps
      // its record, so that its members still find it next time.
      {"bundle disable",
       {{"base", "", None, "core"}, {"dhcp", "", None, "core"}, {"core", "BU", Disable}, {"ntp"}},
       "left: base! dhcp! core!* ntp\ndisabled core-6.42\ndisabled dhcp-6.42\ndisabled base-6.42\n"
       "W /flash/var/pdb/base/disabled auto\nW /flash/var/pdb/core/disabled user\n"
       "U /flash/var/pdb/core/enabled\nW /flash/var/pdb/dhcp/disabled auto\n"},
      {"bundle uninstall, in reverse order, without messages",
       {{"base", "", None, "core"}, {"core", "B", Uninstall}, {"ntp"}},
       "left: ntp\nU /flash/bin/base\nU /flash/var/pdb/base/\nU /flash/var/pdb/core/\n"},
      // Unrelated enables go in the reverse of their order: each goes to the front.
      {"bundle enable reaches its disabled members",
       {{"base", "D", None, "core"}, {"core", "BDU", Enable}},
       "left: base core*\nenabled core-6.42\nenabled base-6.42\nU /flash/var/pdb/base/disabled\n"
       "U /flash/var/pdb/core/disabled\nW /flash/var/pdb/core/enabled user\n"},
      {"a needed package is not uninstalled",
       {{"ntp", "", Uninstall}, {"dhcp", "", None, "", {"ntp"}}},
       "left: ntp dhcp\nWARNING: can not uninstall ntp-6.42: dhcp depends on it\n"},
      {"a needed provider that is disabled comes back",
       {{"ntp", "D", None, "", {}, {"timed"}}, {"dhcp", "", None, "", {"timed"}}},
       "left: ntp dhcp\nenabled ntp-6.42\nU /flash/var/pdb/ntp/disabled\n"},
      {"enabling a package disables the active one that blocks it",
       {{"chrony", "", None, "", {}, {}, {"ntp"}}, {"ntp", "DU", Enable}},
       "left: chrony! ntp*\ndisabled chrony-6.42\nenabled ntp-6.42\n"
       "W /flash/var/pdb/chrony/disabled auto\nU /flash/var/pdb/ntp/disabled\n"
       "W /flash/var/pdb/ntp/enabled user\n"},
      {"of two being enabled, the one the other blocks is refused",
       {{"ntp", "DU", Enable}, {"chrony", "DU", Enable, "", {}, {}, {"ntp"}}},
       "left: ntp!* chrony*\nWARNING: can not enable ntp: chrony-6.42 conflicts with it\n"
       "enabled chrony-6.42\nU /flash/var/pdb/chrony/disabled\n"
       "W /flash/var/pdb/chrony/enabled user\n"},
      {"two that block each other are both enabled",
       {{"ntp", "DU", Enable, "", {}, {}, {"chrony"}},
        {"chrony", "DU", Enable, "", {}, {}, {"ntp"}}},
       "left: ntp* chrony*\nenabled ntp-6.42\nenabled chrony-6.42\n"
       "U /flash/var/pdb/chrony/disabled\nW /flash/var/pdb/chrony/enabled user\n"
       "U /flash/var/pdb/ntp/disabled\nW /flash/var/pdb/ntp/enabled user\n"},
      {"what needs only an uninstalled provider goes too",
       {{"ntp", "", Uninstall}, {"dhcp", "D", None, "", {"ntp"}}, {"x"}},
       "left: x\nU /flash/bin/dhcp\nU /flash/bin/ntp\nU /flash/var/pdb/dhcp/\n"
       "U /flash/var/pdb/ntp/\n"},
      {"what needs only a provider disabled by a conflict is disabled",
       {{"y", "", None, "", {}, {}, {"x"}}, {"x"}, {"p", "", None, "", {"x"}}},
       "left: y x! p!\ndisabled p-6.42\ndisabled x-6.42\nW /flash/var/pdb/p/disabled auto\n"
       "W /flash/var/pdb/x/disabled auto\n"},
      // "enable" for a package that is enabled already keeps it active for what
      // needs it, and enables it again.
      {"enable while enabled", {{"ntp", "U", Enable}, {"dhcp", "", None, "", {"ntp"}}},
       "left: ntp* dhcp\nenabled ntp-6.42\nW /flash/var/pdb/ntp/enabled user\n"},
      {"everything off is refused", {{"ntp", "", Uninstall}, {"dhcp", "", Disable}, {"x", "D"}},
       "left: ntp dhcp x!\nERROR: can not uninstall or disable all packages\n"}};
  for (const auto& [behaviour, records, result] : cases)
    EXPECT_EQ(scheduled(records), result) << behaviour;
}

}  // namespace
