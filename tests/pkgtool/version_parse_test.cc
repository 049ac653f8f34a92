#include "pkgtool/version_parse.h"

#include <gtest/gtest.h>

#include <string>

#include "pkgtool/metadata_options.h"

namespace {

struct Accepted {
  const char* text;
  Version packed;
};

TEST(VersionParse, ReadsEveryReleaseForm) {
  const Accepted cases[] = {
      {"6.42.3", 0x062A6603},     {"6.42", 0x062A6600},      {"6.41rc5", 0x06296305},
      {"7.1beta3", 0x07016203},   {"6.41alpha2", 0x06296102}, {"6.41beta", 0x06296200},
      {"6.41rc", 0x06296300},     {"0.0", 0x00006600},        {"255.255.255", 0xFFFF66FF},
      {"7.1.10", 0x0701660A},     {"6.42.0", 0x062A6600},
  };
  for (const Accepted& c : cases) {
    Version version = 0;
    EXPECT_TRUE(parseVersionText(c.text, version)) << c.text;
    EXPECT_EQ(version, c.packed) << c.text;
  }
}

TEST(VersionParse, RejectsMalformedTextAndLeavesVersionAlone) {
  const char* cases[] = {
      "",        "6",        "6.",         ".42",      "6.42.",      "6.42.3.1", "256.1",
      "6.256",   "6.42.256", "6.41rc256",  "6.42rc5x", "6.42gamma1", "6.42-rc5", "6.42 ",
      " 6.42",   "6.42RC5",  "-6.42",      "6.42.3rc1", "6..42",     "4294967302.1",
      "6.42.+3", "6.41beta-1", "0x6.42",
  };
  for (const char* text : cases) {
    Version version = 0x12345678;
    EXPECT_FALSE(parseVersionText(text, version)) << '"' << text << '"';
    EXPECT_EQ(version, 0x12345678u) << text;
  }
}

TEST(VersionParse, CanonicalTextRoundTripsThroughVersionText) {
  for (const char* text : {"6.42.3", "6.42", "6.41rc5", "7.1beta3", "6.41alpha2", "6.41beta",
                           "0.0", "7.1.10", "255.255.255"}) {
    Version version = 0;
    ASSERT_TRUE(parseVersionText(text, version)) << text;
    EXPECT_STREQ(versionText(version), text);
  }
}

TEST(EntrySpec, ReadsNameRangeAndPriority) {
  const struct {
    const char* text;
    DependencyEntry expected;
  } cases[] = {
      {"system", {"system", 0, 0, 0}},
      {"wireless:6.41rc5:6.49.9:-3", {"wireless", 0x06296305, 0x06316609, -3}},
      {"0123456789abcdef::7.0:2147483647", {"0123456789abcdef", 0, 0x07006600, INT32_MAX}},
      {"x:::-2147483648", {"x", 0, 0, INT32_MIN}},
  };
  for (const auto& c : cases) {
    DependencyEntry entry;
    ASSERT_TRUE(parseEntrySpec(c.text, entry)) << c.text;
    EXPECT_EQ(entry.name, c.expected.name);
    EXPECT_EQ(entry.minVersion, c.expected.minVersion) << c.text;
    EXPECT_EQ(entry.maxVersion, c.expected.maxVersion) << c.text;
    EXPECT_EQ(entry.priority, c.expected.priority) << c.text;
  }
}

TEST(EntrySpec, RejectsMalformedEntries) {
  for (const char* text : {"", ":6.42", "0123456789abcdefg", "a:6.42:6.43:1:9", "a:bad",
                           "a::x", "a:1.0:2.0:2147483648", "a:1.0:2.0:-2147483649",
                           "a:1.0:2.0:1x"}) {
    DependencyEntry entry;
    EXPECT_FALSE(parseEntrySpec(text, entry)) << '"' << text << '"';
  }
}

}  // namespace
