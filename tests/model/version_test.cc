#include "model/version.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

constexpr Version pack(unsigned major, unsigned minor, unsigned letter, unsigned number) {
  return (major << 24) | (minor << 16) | (letter << 8) | number;
}

struct TextCase {
  Version version;
  const char* text;
};

class VersionText : public ::testing::TestWithParam<TextCase> {};

TEST_P(VersionText, FormatsPackedWord) {
  EXPECT_STREQ(versionText(GetParam().version), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    WorkedValues, VersionText,
    ::testing::Values(TextCase{pack(6, 42, 'f', 3), "6.42.3"},
                      TextCase{pack(6, 42, 'f', 0), "6.42"},
                      TextCase{pack(6, 42, 'f', 1), "6.42.1"},
                      TextCase{pack(7, 1, 'f', 10), "7.1.10"},
                      TextCase{pack(6, 41, 'a', 2), "6.41alpha2"},
                      TextCase{pack(6, 41, 'b', 0), "6.41beta"},
                      TextCase{pack(6, 41, 'c', 5), "6.41rc5"},
                      TextCase{pack(6, 41, 'd', 7), "6.417"},
                      TextCase{pack(6, 41, 'A', 7), "6.417"},
                      TextCase{pack(255, 255, 'f', 255), "255.255.255"},
                      TextCase{0, "0.0"}));

TEST(VersionTextBuffer, SecondCallOverwritesTheFirstResult) {
  const char* first = versionText(pack(6, 42, 'f', 3));
  const char* second = versionText(pack(7, 1, 'b', 3));
  EXPECT_EQ(first, second);
  EXPECT_STREQ(first, "7.1beta3");
}

TEST(VersionOrder, PreReleasesComeBeforeTheFinalRelease) {
  const Version ordered[] = {pack(6, 41, 'a', 9), pack(6, 41, 'b', 1), pack(6, 41, 'c', 5),
                             pack(6, 41, 'f', 0), pack(6, 41, 'f', 1), pack(6, 42, 'a', 1),
                             pack(7, 0, 'f', 0)};
  for (size_t i = 1; i < std::size(ordered); ++i) EXPECT_LT(ordered[i - 1], ordered[i]) << i;
}

}  // namespace
