#include "platform/support_library.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "engine/flagged_state.h"
#include "support/scratch_root.h"

namespace {

TEST(SupportLibrary, MinimumVersionFromTheEnvironmentAndVersionText) {
  const std::pair<const char*, uint32_t> cases[] = {
      {"", 0}, {"101084675", 101084675}, {"0x062A6603", 0x062A6603}, {"6.42", 0},
      {"0x1FFFFFFFF", 0}, {"12abc", 0}};
  for (const auto& [value, expected] : cases) {
    setenv("HALVANE_MIN_VERSION", value, 1);
    EXPECT_EQ(getMinHalvaneVersion(), expected) << value;
  }
  unsetenv("HALVANE_MIN_VERSION");
  EXPECT_EQ(getMinHalvaneVersion(), 0u);
  EXPECT_EQ(version2string(0x06296305), "6.41rc5");
}

TEST(FlaggedState, ReadBeforeMainFromTheModeRecord) {
  const char* value = getenv("HALVANE_FLAGGED");
  EXPECT_EQ(flaggedState != 0, value != nullptr && *value != '\0' && strcmp(value, "0") != 0);
  EXPECT_EQ(flaggedState, sv::halvaneMode()->flagged);
}

// Runs this test binary again with HALVANE_FLAGGED set, so that the static
// initialiser sees it.
TEST(FlaggedState, FollowsTheEnvironmentOfTheProcess) {
  std::error_code error;
  const std::string self = std::filesystem::read_symlink("/proc/self/exe", error);
  for (const char* value : {"1", "yes", "0", ""}) {
    const RunResult run = runProgram(
        {self, "--gtest_filter=FlaggedState.ReadBeforeMainFromTheModeRecord"}, "",
        {std::string("HALVANE_FLAGGED=") + value});
    EXPECT_EQ(run.status, 0) << value << "\n" << run.out;
    EXPECT_NE(run.out.find("[  PASSED  ] 1 test"), std::string::npos) << run.out;
  }
}

}  // namespace
