// The tool's command line: versions and entries as text, refusals and help.

#include <tuple>

#include "pkgtool/metadata_options.h"
#include "pkgtool/pkgtool_runner.h"
#include "pkgtool/version_parse.h"

namespace {

TEST(MetadataText, VersionsAndEntriesReadEveryFormAndNothingElse) {
  const std::pair<const char*, Version> versions[] = {
      {"6.42.3", 0x062A6603},   {"6.42", 0x062A6600},       {"6.41rc5", 0x06296305},
      {"7.1beta3", 0x07016203}, {"6.41alpha2", 0x06296102}, {"6.41beta", 0x06296200},
      {"6.41rc", 0x06296300},   {"0.0", 0x00006600},        {"255.255.255", 0xFFFF66FF},
      {"7.1.10", 0x0701660A}};
  for (const auto& [text, packed] : versions) {
    Version version = 0;
    EXPECT_TRUE(parseVersionText(text, version)) << text;
    EXPECT_EQ(version, packed) << text;
    EXPECT_STREQ(versionText(version), text);
  }
  Version version = 0;
  EXPECT_TRUE(parseVersionText("6.42.0", version) && version == 0x062A6600);
  for (const char* text :
       {"",           "6",        "6.",        ".42",       "6.42.",      "6.42.3.1",     "256.1",
        "6.256",      "6.42.256", "6.41rc256", "6.42rc5x",  "6.42gamma1", "6.42-rc5",     "6.42 ",
        " 6.42",      "6.42RC5",  "-6.42",     "6.42.3rc1", "6..42",      "4294967302.1", "6.42.+3",
        "6.41beta-1", "0x6.42"}) {
    version = 0x12345678;
    EXPECT_FALSE(parseVersionText(text, version)) << '"' << text << '"';
    EXPECT_EQ(version, 0x12345678u) << text;
  }

  // Entries: NAME[:MIN[:MAX[:PRIORITY]]].
  const std::pair<const char*, DependencyEntry> entries[] = {
      {"0123456789abcdef::7.0:2147483647", {"0123456789abcdef", 0, 0x07006600, INT32_MAX}},
      {"x:::-2147483648", {"x", 0, 0, INT32_MIN}}};
  DependencyEntry entry;
  for (const auto& [text, e] : entries) {
    EXPECT_TRUE(parseEntryText(text, entry)) << text;
    EXPECT_EQ(std::tie(entry.name, entry.minVersion, entry.maxVersion, entry.priority),
              std::tie(e.name, e.minVersion, e.maxVersion, e.priority));
  }
  for (const char* text : {"", ":6.42", "0123456789abcdefg", "a:6.42:6.43:1:9", "a:bad", "a::x",
                           "a:1.0:2.0:2147483648", "a:1.0:2.0:-2147483649", "a:1.0:2.0:1x",
                           "a b:1.0", "a\tb", "a\x1b", "\x7f:1.0"})
    EXPECT_FALSE(parseEntryText(text, entry)) << '"' << text << '"';
  EXPECT_TRUE(parseEntryText("lib/ssl", entry) && entry.name == "lib/ssl");
}

TEST(PkgtoolUsage, RefusalsExitTwoWithTheComplaintAndUsageOnStandardError) {
  ScratchRoot dir;
  const std::pair<const char*, const char*> cases[] = {
      // arguments, complaint
      {"", "no command given"},
      {"frobnicate", "unknown command \"frobnicate\""},
      {"build --name a --version 1.0", "--output is required"},
      {"build -o @out --name a --version 6.42beta3x", "invalid version \"6.42beta3x\""},
      {"build -o @out --name a --version 1.0 --depends x:1:2",
       "invalid --depends entry \"x:1:2\": NAME[:MIN[:MAX[:PRIORITY]]], NAME 1 to 16 bytes "
       "without blank or control character"},
      {"build -o @out --name a --version 1.0 --build-time 4294967296",
       "invalid build time \"4294967296\""},
      {"build -o @out --name a --version 1.0 --sha256", "--sha256 needs --sign"},
      {"build -o", "option \"--output\" needs a value"},
      {"bundle -o @out --name b --version 1.0", "at least one PACKAGE is needed"},
      {"bundle -o @out --depends x p.zpk", "unknown option \"--depends\""},
      {"verify --level 3 f", "--level is 1 or 2, not \"3\""},
      {"sign --legacy-only=x f", "option \"--legacy-only\" takes no value"}};
  for (const auto& [args, complaint] : cases) {
    const RunResult result = pkgtool(dir, args, 2, {"SOURCE_DATE_EPOCH=5"});
    std::string command = std::string(args).substr(0, std::string(args).find(' '));
    if (command.empty() || command == "frobnicate") command = "COMMAND";
    const std::string head = "pkgtool: " + std::string(complaint) + "\nusage: pkgtool " + command;
    EXPECT_TRUE(result.err.starts_with(head + " ")) << result.err;
  }
  EXPECT_FALSE(dir.exists("out"));
}

// A package or bundle name becomes a database directory and a field of its text
// files; the complaint shows a refused one escaped.
TEST(PkgtoolUsage, NamesAreOneToSixteenBytesOfOneDirectoryWithoutBlankOrControlCharacter) {
  ScratchRoot dir;
  const std::pair<std::string, std::string> refused[] = {  // name, as the complaint shows it
      {"", ""},          {".", "."},           {"..", ".."},
      {"a/b", "a/b"},    {"a b", "a b"},       {"a\nb", R"(a\nb)"},
      {"\x1b", R"(\x1b)"}, {"0123456789abcdefg", "0123456789abcdefg"}};
  for (const std::string command : {"build", "bundle"}) {
    for (const auto& [name, shown] : refused) {
      const RunResult result = runProgram(
          {PKGTOOL_BINARY, command, "-o", dir.at("out"), "--name", name, "--version", "1.0", "p"});
      EXPECT_EQ(result.status, 2) << name;
      EXPECT_TRUE(result.err.starts_with("pkgtool: invalid name \"" + shown +
                                         "\": 1 to 16 bytes, no \"/\", blank or control "
                                         "character, not \".\" or \"..\"\nusage: "))
          << result.err;
    }
  }
  EXPECT_FALSE(dir.exists("out"));
  for (const std::string name : {"0123456789abcdef", "...", "r\xc3\xa9seau"})
    EXPECT_EQ(runProgram({PKGTOOL_BINARY, "build", "-o", dir.at("ok"), "--name", name,
                          "--version", "1.0"}).status, 0)
        << name;
}

TEST(PkgtoolUsage, HelpOfEveryCommandGoesToStandardOutputWithItsOptionsLaidOut) {
  ScratchRoot dir;
  const std::string general = pkgtool(dir, "--help").out;
  for (const std::string command :
       {"build", "bundle", "inspect", "verify", "sign", "keygen", "db"}) {
    EXPECT_NE(general.find("\n  " + command + " "), std::string::npos) << general;
    for (const std::string& line : {command + " --help", command + " -h", "help " + command})
      EXPECT_TRUE(pkgtool(dir, line).out.starts_with("usage: pkgtool " + command + " ")) << line;
  }
  // An alias goes before its option; further lines of a help text sit under its first.
  const std::string sign = pkgtool(dir, "sign x --help").out;
  EXPECT_NE(sign.find("\n  -o, --output FILE     write the signed file there instead of replacing "
                      "FILE\n  --legacy-only         sign with"),
            std::string::npos)
      << sign;
  EXPECT_NE(sign.find("\n  --keys DIRECTORY      where legacy.secret and eddsa.secret lie\n"
                      "                        (default: "),
            std::string::npos)
      << sign;
}

}  // namespace
