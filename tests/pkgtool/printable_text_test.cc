#include "pkgtool/printable_text.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

TEST(PrintableText, EscapesControlCharactersAndBackslashOnly) {
  const std::pair<std::string, std::string> cases[] = {
      {"core", "core"},
      {"a\nb", R"(a\nb)"},
      {"a\tb", R"(a\tb)"},
      {"a\\nb", R"(a\\nb)"},
      {"\x1b[31mred", R"(\x1b[31mred)"},
      {std::string("\0\x01\x1f\x7f", 4), R"(\x00\x01\x1f\x7f)"},
      {"\r", R"(\x0d)"},
      {" ~\x80\xff", " ~\x80\xff"},  // blanks, printable and high bytes stay as they are
  };
  for (const auto& [text, shown] : cases) EXPECT_EQ(printable(text), shown) << shown;
}

}  // namespace
