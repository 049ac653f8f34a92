#include "platform/support_library.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "engine/flagged_state.h"
#include "support/scratch_root.h"

namespace {

TEST(SupportLibrary, MinimumVersionFromTheEnvironment) {
  struct Case {
    const char* value;  // null: unset
    uint32_t expected;
  } cases[] = {{nullptr, 0},        {"", 0},           {"101084675", 101084675},
               {"0x062A6603", 0x062A6603}, {"6.42", 0}, {"0x1FFFFFFFF", 0},
               {"12abc", 0}};
  for (const Case& c : cases) {
    if (c.value == nullptr)
      unsetenv("HALVANE_MIN_VERSION");
    else
      setenv("HALVANE_MIN_VERSION", c.value, 1);
    EXPECT_EQ(getMinHalvaneVersion(), c.expected) << (c.value ? c.value : "(unset)");
  }
  unsetenv("HALVANE_MIN_VERSION");
}

TEST(SupportLibrary, VersionTextMatchesTheInstallersOwn) {
  EXPECT_EQ(version2string(0x06296305), "6.41rc5");
  EXPECT_EQ(version2string(0), "0.0");
}

bool flaggedInEnvironment() {
  const char* value = getenv("HALVANE_FLAGGED");
  return value != nullptr && *value != '\0' && strcmp(value, "0") != 0;
}

TEST(FlaggedState, ReadBeforeMainFromTheModeRecord) {
  EXPECT_EQ(flaggedState != 0, flaggedInEnvironment());
  EXPECT_EQ(flaggedState, sv::halvaneMode()->flagged);
}

// Runs this test binary again with HALVANE_FLAGGED set, so that the static
// initialiser sees it.
TEST(FlaggedState, FollowsTheEnvironmentOfTheProcess) {
  char self[4096];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  ASSERT_GT(length, 0);
  self[length] = '\0';
  for (const char* value : {"1", "yes", "0", ""}) {
    const RunResult run = runProgram(
        {self, "--gtest_filter=FlaggedState.ReadBeforeMainFromTheModeRecord"}, "",
        {std::string("HALVANE_FLAGGED=") + value});
    EXPECT_EQ(run.status, 0) << value << "\n" << run.out;
    EXPECT_NE(run.out.find("[  PASSED  ] 1 test"), std::string::npos) << run.out;
  }
}

}  // namespace
