#include "engine/decision_rules.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "engine/flagged_state.h"
#include "support/console_capture.h"
#include "support/package_records.h"

namespace {

constexpr Version kNone = 0xFFFFFFFF;

struct Case {
  const char* what;
  std::vector<Pkg> installed;
  Pkg candidate;
  InstallOutcome outcome = 0;
  std::vector<std::string> messages = {};
  InstallFlags accepted = 0;
  bool flagged = false;
  const char* minVersion = nullptr;  // HALVANE_MIN_VERSION; unset when null
};

constexpr InstallFlags kAll = 0xFFFFFFFF;
const char* const kMin = "0x062A6603";  // 6.42.3
const std::string kOlder =
    "WARNING: omitting package dhcp-6.41: newer package dhcp-6.42 is already installed";
const std::string kArm = "ERROR: can not install dhcp-6.42: it is not made for mips32, but for arm";
const std::string kFlagged = "WARNING: cannot install older dhcp-6.42: router in flagged state";
const std::string kConflict = "ERROR: can not install wireless-6.42: it conflicts with ppp-6.41";
const std::string kSystemMin = "ERROR: omitting package system-6.42: min Halvane version is 6.42.3";
const std::string kNoSystem =
    "ERROR: can not install wireless-6.42: system-6.42.3 is not installed, but is required";

const Pkg kDhcp("dhcp"), kOldDhcp("dhcp", release(6, 41)), kLaterDhcp("dhcp", release(6, 42), 200);
const Pkg kArmDhcp = Pkg("dhcp").arch("arm").needs("system");
const Pkg kWireless("wireless"), kPpp = Pkg("ppp", release(6, 41)).clash("wireless");

const Case kCases[] = {
    // Version rules against the installed package of the same name.
    {"nothing of that name installed", {Pkg("ntp")}, kDhcp},
    {"upgrade", {kOldDhcp}, kDhcp, Upgrade},
    {"downgrade", {kDhcp}, kOldDhcp, Downgrade, {kOlder}},
    {"downgrade accepted", {kDhcp}, kOldDhcp, Downgrade, {}, AllowDowngrade},
    {"other bits leave the downgrade message", {kDhcp}, kOldDhcp, Downgrade, {kOlder},
     AllowUpgrade | AllowReinstall | AllowConflict},
    {"same version and build", {kDhcp}, kDhcp, SameVersion,
     {"WARNING: omitting package dhcp-6.42: it is already installed"}},
    {"reinstall accepted", {kDhcp}, kDhcp, SameVersion, {}, AllowReinstall},
    {"later build", {kDhcp}, kLaterDhcp, Upgrade},
    {"earlier build", {kLaterDhcp}, kDhcp, Downgrade,
     {"WARNING: omitting package dhcp-6.42: newer package dhcp-6.42 is already installed"}},
    {"branding is never compared", {Pkg("branding")}, Pkg("branding")},
    // Flagged state: an older build.
    {"flagged", {kLaterDhcp}, kDhcp, 0x18 | Downgrade, {kFlagged}, 0, true},
    {"flagged, every bit accepted", {kLaterDhcp}, kDhcp, 0x18 | Downgrade, {kFlagged}, kAll, true},
    {"flagged, newer version", {Pkg("dhcp", six(41), 200)}, kDhcp, 0x18 | Upgrade, {kFlagged},
     0, true},
    {"flagged warning is the only message", {kLaterDhcp, Pkg("ppp").clash("dhcp")}, kArmDhcp,
     0x18 | Downgrade, {kFlagged}, 0, true},
    {"flagged, later build", {kOldDhcp}, kLaterDhcp, Upgrade, {}, 0, true},
    {"flagged, branding", {Pkg("branding", release(6, 42), 200)}, Pkg("branding"), 0, {}, 0, true},
    // Minimum system version.
    {"system", {}, Pkg("system"), NotInstallable, {kSystemMin}, 0, false, kMin},
    {"halvane prefix", {}, Pkg("halvane-wifi"), NotInstallable,
     {"ERROR: omitting package halvane-wifi-6.42: min Halvane version is 6.42.3"}, 0, false, kMin},
    {"halvane", {}, Pkg("halvane"), NotInstallable,
     {"ERROR: omitting package halvane-6.42: min Halvane version is 6.42.3"}, 0, false, kMin},
    {"systemd has no minimum", {}, Pkg("systemd"), 0, {}, 0, false, kMin},
    {"myhalvane has no minimum", {}, Pkg("myhalvane"), 0, {}, 0, false, kMin},
    {"at the minimum", {}, Pkg("system", release(6, 42, 3)), 0, {}, 0, false, kMin},
    {"minimum unset", {}, Pkg("system", 0)},
    {"minimum accepted", {}, Pkg("halvane"), NotInstallable, {}, NotInstallable, false, kMin},
    // Architecture.
    {"wrong architecture", {}, Pkg("dhcp").arch("arm"), NotInstallable, {kArm}},
    {"a prefix is not the architecture", {}, Pkg("dhcp").arch("mips"), NotInstallable,
     {"ERROR: can not install dhcp-6.42: it is not made for mips32, but for mips"}},
    {"the router's architecture passes", {}, Pkg("dhcp").arch("mips32")},
    {"empty architecture passes", {}, Pkg("dhcp")},
    // Dependencies.
    {"required version missing", {Pkg("system")}, Pkg("wireless").needs("system", 0x062A6603),
     NotInstallable, {kNoSystem}},
    {"first missing entry only", {Pkg("system")},
     Pkg("wireless").needs("system").needs("ntp").needs("ppp"), NotInstallable,
     {"ERROR: can not install wireless-6.42: ntp is not installed, but is required"}},
    {"disabled provider counts", {Pkg("system").state(true)},
     Pkg("wireless").needs("system", release(6, 40))},
    {"provider being uninstalled counts", {Pkg("system").state(false, ScheduledAction::Uninstall)},
     Pkg("wireless").needs("system")},
    {"provided name", {Pkg("dnsmasq").gives("dns")}, Pkg("wireless").needs("dns")},
    {"placeholder provides nothing", {Pkg("dns", kNone, kNone)}, Pkg("wireless").needs("dns"),
     NotInstallable,
     {"ERROR: can not install wireless-6.42: dns is not installed, but is required"}},
    // Conflicts.
    {"installed package blocks", {Pkg("ntp"), kPpp}, kWireless, Conflict, {kConflict}},
    {"conflict accepted", {kPpp}, kWireless, Conflict, {}, AllowConflict},
    {"disabled blocker", {Pkg("ppp").clash("wireless").state(true)}, kWireless},
    {"first active blocker named",
     {Pkg("pppoe").clash("wireless").state(true), kPpp, Pkg("l2tp").clash("wireless")}, kWireless,
     Conflict, {kConflict}},
    // One message, the first failing rule's, and every bit.
    {"architecture, dependency, conflict", {Pkg("ppp", release(6, 41)).clash("dhcp")}, kArmDhcp,
     NotInstallable | Conflict, {kArm}},
    {"minimum, architecture", {}, Pkg("system").arch("arm"), NotInstallable, {kSystemMin}, 0,
     false, kMin},
    {"downgrade, architecture", {kDhcp}, Pkg("dhcp", release(6, 41)).arch("arm"),
     Downgrade | NotInstallable, {kOlder}},
    {"silenced reinstall, architecture", {kDhcp}, Pkg("dhcp").arch("arm"),
     SameVersion | NotInstallable, {kArm}, AllowReinstall},
    {"bit 8 silences architecture and dependency, not conflict",
     {Pkg("ppp", release(6, 41)).clash("dhcp")}, kArmDhcp, NotInstallable | Conflict,
     {"ERROR: can not install dhcp-6.42: it conflicts with ppp-6.41"}, NotInstallable},
    {"every bit accepted: no message, every bit", {kDhcp, Pkg("ppp").clash("dhcp")},
     Pkg("dhcp", release(6, 41)).arch("arm").needs("system"), Downgrade | NotInstallable | Conflict,
     {}, kAll},
};

TEST(DecisionRules, OutcomeBitsAndTheirOneMessage) {
  const uint8_t savedFlaggedState = flaggedState;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    flaggedState = c.flagged;
    if (c.minVersion)
      setenv("HALVANE_MIN_VERSION", c.minVersion, 1);
    else
      unsetenv("HALVANE_MIN_VERSION");
    ConsoleCapture console;
    Repository& repository = freshRepository();
    repository.arch = "mips32";
    for (const Pkg& record : c.installed) addInstalled(repository, record);
    EXPECT_EQ(evaluateInstall(repository, c.candidate.p, c.accepted), c.outcome);
    EXPECT_EQ(repository.messageLog, c.messages);
    EXPECT_EQ(console.text(), c.messages.empty() ? "" : c.messages[0] + "\n");
  }
  unsetenv("HALVANE_MIN_VERSION");
  flaggedState = savedFlaggedState;
  freshRepository();
}

}  // namespace
