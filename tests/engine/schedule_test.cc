// The enable, disable and uninstall schedule over a hand-made installed set, run in
// a scratch root: what remains, in which state, the messages, and the file changes.

#include "engine/schedule.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "changes/change_set.h"
#include "pdb/repository.h"
#include "support/console_capture.h"
#include "support/scratch_root.h"

namespace {

constexpr Version v6_42 = 0x062A6600;

// One installed package: flags D (disabled), U (user-chosen), B (a bundle); its
// action; the bundle it came from; the names it needs, provides and conflicts with.
struct Record {
  std::string name;
  std::string flags = {};
  ScheduledAction action = ScheduledAction::None;
  std::string bundle = {};
  std::vector<std::string> needs = {}, provides = {}, conflicts = {};
};

constexpr ScheduledAction kNone = ScheduledAction::None;
constexpr ScheduledAction kUninstall = ScheduledAction::Uninstall;
constexpr ScheduledAction kEnable = ScheduledAction::Enable;
constexpr ScheduledAction kDisable = ScheduledAction::Disable;

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
    if (r.flags.find('D') != std::string::npos) root.write(directory + "disabled", "user\n");
    else if (r.flags.find('U') != std::string::npos) root.write(directory + "enabled", "user\n");
  }
  EXPECT_TRUE(inRoot(root, [&] {
    ConsoleCapture console;
    Repository& repository = freshRepository();
    for (const Record& r : records) {
      auto package = std::make_unique<InstalledPackage>(r.name);
      package->version = v6_42;
      package->disabled = r.flags.find('D') != std::string::npos;
      package->userChosen = r.flags.find('U') != std::string::npos;
      package->isBundle = r.flags.find('B') != std::string::npos;
      package->scheduledAction = r.action;
      package->bundle.name = r.bundle;
      package->dependencies = entries(r.needs);
      package->provides = entries(r.provides);
      package->conflicts = entries(r.conflicts);
      if (!package->isBundle) package->files.insert("/flash/bin/" + r.name);
      repository.packages.push_back(std::move(package));
    }
    ChangeSet changes;
    applySchedule(repository, changes, true);
    std::string text = "left:";
    for (const auto& package : repository.packages)
      text += " " + package->name + (package->disabled ? "!" : "") +
              (package->userChosen ? "*" : "");
    text += "\n";
    for (const std::string& message : repository.messageLog) text += message + "\n";
    for (const auto& [path, change] : changes.entries()) {
      if (change.op == ChangeOp::Delete)
        text += "U " + path + "\n";
      else
        text += "W " + path + " " + readFile(change.argument);
    }
    changes.discard();
    writeFile("/result", text);
  }));
  return root.read("result");
}

struct ScheduleCase {
  const char* behaviour;
  std::vector<Record> records;
  std::string result;
};

class Schedule : public ::testing::TestWithParam<ScheduleCase> {};

TEST_P(Schedule, CarriesOutTheActions) { EXPECT_EQ(scheduled(GetParam().records), GetParam().result); }

INSTANTIATE_TEST_SUITE_P(
    Passes, Schedule,
    ::testing::Values(
        ScheduleCase{"nothing pending and nothing installed", {}, "left:\n"},
        // A bundle's disable reaches its members; the bundle is disabled too and keeps
        // its record, so that its members still find it next time.
        ScheduleCase{"bundle disable",
                     {{"base", "", kNone, "core"}, {"dhcp", "", kNone, "core"},
                      {"core", "BU", kDisable}, {"ntp"}},
                     "left: base! dhcp! core!* ntp\n"
                     "disabled core-6.42\ndisabled dhcp-6.42\ndisabled base-6.42\n"
                     "W /flash/var/pdb/base/disabled auto\n"
                     "W /flash/var/pdb/core/disabled user\n"
                     "U /flash/var/pdb/core/enabled\n"
                     "W /flash/var/pdb/dhcp/disabled auto\n"},
        ScheduleCase{"bundle uninstall, in reverse order, without messages",
                     {{"base", "", kNone, "core"}, {"core", "B", kUninstall}, {"ntp"}},
                     "left: ntp\n"
                     "U /flash/bin/base\nU /flash/var/pdb/base/\nU /flash/var/pdb/core/\n"},
        // Unrelated enables go in the reverse of their order: each goes to the front.
        ScheduleCase{"bundle enable reaches its disabled members",
                     {{"base", "D", kNone, "core"}, {"core", "BDU", kEnable}},
                     "left: base core*\nenabled core-6.42\nenabled base-6.42\n"
                     "U /flash/var/pdb/base/disabled\nU /flash/var/pdb/core/disabled\n"
                     "W /flash/var/pdb/core/enabled user\n"},
        ScheduleCase{"a needed package is not uninstalled",
                     {{"ntp", "", kUninstall}, {"dhcp", "", kNone, "", {"ntp"}}},
                     "left: ntp dhcp\n"
                     "WARNING: can not uninstall ntp-6.42: dhcp depends on it\n"},
        ScheduleCase{"a needed provider that is disabled comes back",
                     {{"ntp", "D", kNone, "", {}, {"timed"}}, {"dhcp", "", kNone, "", {"timed"}}},
                     "left: ntp dhcp\nenabled ntp-6.42\nU /flash/var/pdb/ntp/disabled\n"},
        ScheduleCase{"enabling a package disables the active one that blocks it",
                     {{"chrony", "", kNone, "", {}, {}, {"ntp"}}, {"ntp", "DU", kEnable}},
                     "left: chrony! ntp*\ndisabled chrony-6.42\nenabled ntp-6.42\n"
                     "W /flash/var/pdb/chrony/disabled auto\n"
                     "U /flash/var/pdb/ntp/disabled\nW /flash/var/pdb/ntp/enabled user\n"},
        ScheduleCase{"of two being enabled, the one the other blocks is refused",
                     {{"ntp", "DU", kEnable}, {"chrony", "DU", kEnable, "", {}, {}, {"ntp"}}},
                     "left: ntp!* chrony*\n"
                     "WARNING: can not enable ntp: chrony-6.42 conflicts with it\n"
                     "enabled chrony-6.42\n"
                     "U /flash/var/pdb/chrony/disabled\nW /flash/var/pdb/chrony/enabled user\n"},
        ScheduleCase{"two that block each other are both enabled",
                     {{"ntp", "DU", kEnable, "", {}, {}, {"chrony"}},
                      {"chrony", "DU", kEnable, "", {}, {}, {"ntp"}}},
                     "left: ntp* chrony*\nenabled ntp-6.42\nenabled chrony-6.42\n"
                     "U /flash/var/pdb/chrony/disabled\nW /flash/var/pdb/chrony/enabled user\n"
                     "U /flash/var/pdb/ntp/disabled\nW /flash/var/pdb/ntp/enabled user\n"},
        ScheduleCase{"what needs only an uninstalled provider goes too",
                     {{"ntp", "", kUninstall}, {"dhcp", "D", kNone, "", {"ntp"}}, {"x"}},
                     "left: x\nU /flash/bin/dhcp\nU /flash/bin/ntp\n"
                     "U /flash/var/pdb/dhcp/\nU /flash/var/pdb/ntp/\n"},
        ScheduleCase{"what needs only a provider disabled by a conflict is disabled",
                     {{"y", "", kNone, "", {}, {}, {"x"}}, {"x"}, {"p", "", kNone, "", {"x"}}},
                     "left: y x! p!\ndisabled p-6.42\ndisabled x-6.42\n"
                     "W /flash/var/pdb/p/disabled auto\nW /flash/var/pdb/x/disabled auto\n"},
        // "enable" for a package that is enabled already keeps it active for what
        // needs it, and enables it again.
        ScheduleCase{"enable while enabled",
                     {{"ntp", "U", kEnable}, {"dhcp", "", kNone, "", {"ntp"}}},
                     "left: ntp* dhcp\nenabled ntp-6.42\nW /flash/var/pdb/ntp/enabled user\n"},
        ScheduleCase{"everything off is refused",
                     {{"ntp", "", kUninstall}, {"dhcp", "", kDisable}, {"x", "D"}},
                     "left: ntp dhcp x!\n"
                     "ERROR: can not uninstall or disable all packages\n"}),
    [](const auto& info) {
      std::string name;
      for (const char c : std::string(info.param.behaviour))
        if (std::isalnum(static_cast<unsigned char>(c))) name += c;
      return name;
    });

}  // namespace
