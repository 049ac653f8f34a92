#include "engine/candidate_selection.h"

#include <gtest/gtest.h>

#include "engine/flagged_state.h"
#include "support/console_capture.h"
#include "support/package_records.h"

namespace {

// The mode: v verbose, f the floor 6.40, x flagged state. kept: display names in the
// resulting order; log: the messages, one line each.
struct Case {
  const char* what;
  const char* mode;
  std::vector<Pkg> input;
  std::string kept, log = "";
};

TEST(CandidateSelection, FiltersAndOrdersCandidates) {
  const Pkg core = Pkg("core").member(Pkg("system")).member(Pkg("dhcp"));
  const Pkg wireless = Pkg("wireless").needs("system");
  const std::string notAllowed = "WARNING: ommitting package dhcp-6.39: not allowed\n";
  const Case cases[] = {
      {"newest wins without a floor", "v", {Pkg("dhcp", six(41)), Pkg("dhcp")}, "dhcp-6.42",
       "WARNING: omitting package dhcp-6.41: newer package is already provided\n"},
      {"not verbose: silent", "", {Pkg("dhcp"), Pkg("dhcp", six(41))}, "dhcp-6.42"},
      {"oldest wins with a floor", "vf", {Pkg("dhcp"), Pkg("dhcp", six(41))}, "dhcp-6.41",
       "WARNING: omitting package dhcp-6.42: older package is already provided\n"},
      {"below the floor: refused even when not verbose", "f",
       {Pkg("dhcp", six(39)), Pkg("ntp", six(40))}, "ntp-6.40", notAllowed},
      {"below the floor: no part in the comparisons", "vf",
       {Pkg("dhcp", six(39)), Pkg("dhcp", six(41))}, "dhcp-6.41", notAllowed},
      {"equal stand-alones drop each other, so do equal bundles", "v",
       {Pkg("ntp"), core, Pkg("ntp"), Pkg("ppp"), core}, "ppp-6.42"},
      {"equal bundle beats its member's file", "v", {Pkg("dhcp"), core}, "core-6.42"},
      {"equal bundle beats its member's file, bundle first", "vf", {core, Pkg("dhcp")},
       "core-6.42"},
      {"newer member file beats the bundle", "v",
       {Pkg("core").member(Pkg("dhcp", six(41))), Pkg("dhcp")}, "dhcp-6.42",
       "WARNING: omitting package core-6.42: newer package is already provided\n"},
      {"flagged state keeps the latest builds, whatever the names", "vx",
       {Pkg("dhcp", six(43), 100), Pkg("ntp", six(42), 200), Pkg("ppp", six(42), 200)},
       "ppp-6.42 ntp-6.42", "WARNING: ommiting older package dhcp-6.43: router in flagged state\n"},
      {"flagged state, not verbose", "x", {Pkg("dhcp", six(43), 100), Pkg("ntp", six(42), 200)},
       "ntp-6.42"},
      {"dependency read last", "v", {wireless, Pkg("system")}, "system-6.42 wireless-6.42"},
      {"dependency read first", "v", {Pkg("system"), wireless}, "system-6.42 wireless-6.42"},
      {"unrelated read last goes to the front", "v", {wireless, Pkg("system"), Pkg("ntp")},
       "ntp-6.42 system-6.42 wireless-6.42"},
      {"right after the last one it needs", "v",
       {Pkg("system"), Pkg("ntp"), Pkg("wireless").needs("ntp").needs("system")},
       "ntp-6.42 system-6.42 wireless-6.42"},
      {"blocker before blocked", "v", {Pkg("wireless").clash("ppp"), Pkg("ppp")},
       "wireless-6.42 ppp-6.42"},
      {"after a bundle holding what it needs", "v",
       {Pkg("core").member(Pkg("dhcp")), Pkg("ntp").needs("dhcp")}, "core-6.42 ntp-6.42"}};
  const uint8_t savedFlaggedState = flaggedState;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string mode = c.mode;
    flaggedState = mode.find('x') != std::string::npos;
    ConsoleCapture console;
    Repository& repository = freshRepository();
    std::vector<Package> input;
    for (const Pkg& candidate : c.input) input.push_back(candidate.p);
    std::vector<Package*> list;
    for (Package& candidate : input) list.push_back(&candidate);
    selectCandidates(repository, list, mode.find('f') != std::string::npos ? six(40) : kNoFloor,
                     mode.find('v') != std::string::npos);
    std::string kept, log;
    for (const Package* package : list)
      kept.append(kept.empty() ? "" : " ").append(displayName(*package));
    for (const std::string& message : repository.messageLog) log += message + "\n";
    EXPECT_EQ(kept, c.kept);
    EXPECT_EQ(log, c.log);
  }
  flaggedState = savedFlaggedState;
  freshRepository();
}

}  // namespace
