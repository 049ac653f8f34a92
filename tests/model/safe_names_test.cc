// The named checks for names and paths that come from outside, in one table: each
// row gives a text and what every check says of it.

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "model/safe_names.h"

namespace {

TEST(SafeNames, EveryCheckOnEveryKindOfText) {
  // Text, isSafePackageName, isSafeListName, isSafeContainerName, isInstalledFilePath.
  const std::tuple<std::string, bool, bool, bool, bool> cases[] = {
      {"system", true, true, true, false}, {"a.b_c-1", true, true, true, false},
      {"...", true, true, true, false}, {".hidden", true, true, true, false},
      {"caf\xc3\xa9", true, true, true, false},  // bytes from 0x80 up are ordinary
      {"", false, false, true, false}, {".", false, true, true, false},
      {"..", false, true, false, false}, {"a/b", false, true, true, false},
      {"/", false, true, true, false},
      {"a b", false, false, true, false},  // a blank ends a database field
      {"a\nb", false, false, false, false}, {"a\tb", false, false, false, false},
      {"\x1b[2J", false, false, false, false}, {"a\x7f", false, false, false, false},
      {std::string("a\0b", 3), false, false, false, false},
      {"bin/../../etc/x", false, true, false, false}, {"/flash/bin/tool", false, true, true, true},
      {"/flash/x/ppp/bin/pppd", false, true, true, true},
      {"/flash/my file", false, false, true, true}, {"/flash/", false, true, true, false},
      {"/flash", false, true, true, false}, {"/flash/bin/", false, true, true, false},
      {"/flash//bin", false, true, true, false},
      {"/flash/./bin", false, true, true, false}, {"/flash/bin/..", false, true, false, false},
      {"/flashy/bin", false, true, true, false}, {"/etc/passwd", false, true, true, false},
      {"flash/bin/tool", false, true, true, false}};
  for (const auto& [text, packageName, listName, containerName, installedPath] : cases) {
    EXPECT_EQ(isSafePackageName(text), packageName) << text;
    EXPECT_EQ(isSafeListName(text), listName) << text;
    EXPECT_EQ(isSafeContainerName(text), containerName) << text;
    EXPECT_EQ(isInstalledFilePath(text), installedPath) << text;
  }
}

}  // namespace
