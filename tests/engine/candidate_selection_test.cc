#include "engine/candidate_selection.h"

#include <gtest/gtest.h>

#include <memory>

#include "engine/flagged_state.h"
#include "model/package.h"
#include "pdb/repository.h"
#include "support/console_capture.h"

namespace {

constexpr Version ver(unsigned major, unsigned minor) {
  return major << 24 | minor << 16 | 'f' << 8;
}

// A candidate in one expression: Pkg("core").member(Pkg("dhcp")).
struct Pkg {
  explicit Pkg(const char* name, Version version = ver(6, 42), uint32_t buildTime = 100) {
    p.name = name;
    p.version = version;
    p.buildTime = buildTime;
  }
  Pkg& needs(const char* name) { return add(p.dependencies, {name, 0, 0, 0}); }
  Pkg& clash(const char* name) { return add(p.conflicts, {name, 0, 0, 0}); }
  Pkg& member(const Pkg& m) {
    p.members.push_back(std::make_shared<Package>(m.p));
    p.isBundle = true;
    return *this;
  }
  Pkg& add(std::vector<DependencyEntry>& list, const DependencyEntry& entry) {
    list.push_back(entry);
    return *this;
  }
  Package p;
};

struct Case {
  const char* what;
  std::vector<Pkg> input;
  Version floor;
  bool verbose, flagged;
  std::vector<std::string> kept;  // display names in the resulting order
  std::vector<std::string> messages;
};

TEST(CandidateSelection, FiltersAndOrdersCandidates) {
  const Version floor = ver(6, 40);
  const Pkg core = Pkg("core").member(Pkg("system")).member(Pkg("dhcp"));
  const Pkg wireless = Pkg("wireless").needs("system");
  const Case cases[] = {
      {"newest wins without a floor", {Pkg("dhcp", ver(6, 41)), Pkg("dhcp")}, kNoFloor, true,
       false, {"dhcp-6.42"},
       {"WARNING: omitting package dhcp-6.41: newer package is already provided"}},
      {"not verbose: silent", {Pkg("dhcp"), Pkg("dhcp", ver(6, 41))}, kNoFloor, false, false,
       {"dhcp-6.42"}, {}},
      {"oldest wins with a floor", {Pkg("dhcp"), Pkg("dhcp", ver(6, 41))}, floor, true, false,
       {"dhcp-6.41"}, {"WARNING: omitting package dhcp-6.42: older package is already provided"}},
      {"below the floor: refused even when not verbose",
       {Pkg("dhcp", ver(6, 39)), Pkg("ntp", ver(6, 40))}, floor, false, false, {"ntp-6.40"},
       {"WARNING: ommitting package dhcp-6.39: not allowed"}},
      {"below the floor: no part in the comparisons",
       {Pkg("dhcp", ver(6, 39)), Pkg("dhcp", ver(6, 41))}, floor, true, false, {"dhcp-6.41"},
       {"WARNING: ommitting package dhcp-6.39: not allowed"}},
      {"equal stand-alones drop each other, so do equal bundles",
       {Pkg("ntp"), core, Pkg("ntp"), Pkg("ppp"), core}, kNoFloor, true, false, {"ppp-6.42"}, {}},
      {"equal bundle beats its member's file", {Pkg("dhcp"), core}, kNoFloor, true, false,
       {"core-6.42"}, {}},
      {"equal bundle beats its member's file, bundle first", {core, Pkg("dhcp")}, floor, true,
       false, {"core-6.42"}, {}},
      {"newer member file beats the bundle",
       {Pkg("core").member(Pkg("dhcp", ver(6, 41))), Pkg("dhcp")}, kNoFloor, true, false,
       {"dhcp-6.42"}, {"WARNING: omitting package core-6.42: newer package is already provided"}},
      {"flagged state keeps the latest builds, whatever the names",
       {Pkg("dhcp", ver(6, 43), 100), Pkg("ntp", ver(6, 42), 200), Pkg("ppp", ver(6, 42), 200)},
       kNoFloor, true, true, {"ppp-6.42", "ntp-6.42"},
       {"WARNING: ommiting older package dhcp-6.43: router in flagged state"}},
      {"flagged state, not verbose", {Pkg("dhcp", ver(6, 43), 100), Pkg("ntp", ver(6, 42), 200)},
       kNoFloor, false, true, {"ntp-6.42"}, {}},
      {"dependency read last", {wireless, Pkg("system")}, kNoFloor, true, false,
       {"system-6.42", "wireless-6.42"}, {}},
      {"dependency read first", {Pkg("system"), wireless}, kNoFloor, true, false,
       {"system-6.42", "wireless-6.42"}, {}},
      {"unrelated read last goes to the front", {wireless, Pkg("system"), Pkg("ntp")}, kNoFloor,
       true, false, {"ntp-6.42", "system-6.42", "wireless-6.42"}, {}},
      {"right after the last one it needs",
       {Pkg("system"), Pkg("ntp"), Pkg("wireless").needs("ntp").needs("system")}, kNoFloor, true,
       false, {"ntp-6.42", "system-6.42", "wireless-6.42"}, {}},
      {"blocker before blocked", {Pkg("wireless").clash("ppp"), Pkg("ppp")}, kNoFloor, true,
       false, {"wireless-6.42", "ppp-6.42"}, {}},
      {"after a bundle holding what it needs",
       {Pkg("core").member(Pkg("dhcp")), Pkg("ntp").needs("dhcp")}, kNoFloor, true, false,
       {"core-6.42", "ntp-6.42"}, {}},
  };
  const uint8_t savedFlaggedState = flaggedState;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    flaggedState = c.flagged;
    ConsoleCapture console;
    Repository& repository = freshRepository();
    std::vector<Package> input;
    for (const Pkg& candidate : c.input) input.push_back(candidate.p);
    std::vector<Package*> list;
    for (Package& candidate : input) list.push_back(&candidate);
    selectCandidates(repository, list, c.floor, c.verbose);
    std::vector<std::string> kept;
    for (const Package* package : list) kept.push_back(displayName(*package));
    EXPECT_EQ(kept, c.kept);
    EXPECT_EQ(repository.messageLog, c.messages);
  }
  flaggedState = savedFlaggedState;
  freshRepository();
}

}  // namespace
