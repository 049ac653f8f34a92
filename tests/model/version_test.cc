#include "model/version.h"

#include <gtest/gtest.h>

namespace {

constexpr Version pack(unsigned major, unsigned minor, unsigned letter, unsigned number) {
  return (major << 24) | (minor << 16) | (letter << 8) | number;
}

TEST(Version, TextOfEachKindOfRelease) {
  const std::tuple<unsigned, unsigned, char, unsigned, const char*> cases[] = {
      {6, 42, 'f', 3, "6.42.3"}, {6, 42, 'f', 0, "6.42"}, {6, 42, 'f', 1, "6.42.1"},
      {7, 1, 'f', 10, "7.1.10"}, {6, 41, 'a', 2, "6.41alpha2"}, {6, 41, 'b', 0, "6.41beta"},
      {6, 41, 'c', 5, "6.41rc5"}, {6, 41, 'd', 7, "6.417"}, {6, 41, 'A', 7, "6.417"},
      {255, 255, 'f', 255, "255.255.255"}, {0, 0, 0, 0, "0.0"}};
  for (const auto& [major, minor, letter, number, text] : cases)
    EXPECT_STREQ(versionText(pack(major, minor, letter, number)), text);
  // One shared buffer: a second call overwrites the first result.
  const char* first = versionText(pack(6, 42, 'f', 3));
  EXPECT_EQ(versionText(pack(7, 1, 'b', 3)), first);
  EXPECT_STREQ(first, "7.1beta3");
}

}  // namespace
