// Command lines the tool refuses, and its help.

#include <gtest/gtest.h>

#include "pkgtool/pkgtool_runner.h"

namespace {

TEST(PkgtoolUsage, BadCommandLinesExitTwoWithUsageOnStandardError) {
  ScratchRoot dir;
  const std::string out = dir.at("out.zpk");
  struct Case {
    std::vector<std::string> args;
    const char* complaint;  // part of the "pkgtool: " line
    const char* usage;      // first line of the usage text shown
  } cases[] = {
      {{}, "no command", "usage: pkgtool COMMAND"},
      {{"frobnicate"}, "unknown command \"frobnicate\"", "usage: pkgtool COMMAND"},
      {{"build", "--name", "a", "--version", "1.0"}, "--output is required", "usage: pkgtool build"},
      {{"build", "-o", out, "--version", "1.0"}, "--name is required", "usage: pkgtool build"},
      {{"build", "-o", out, "--name", "a"}, "--version is required", "usage: pkgtool build"},
      {{"build", "-o", out, "--name", "a", "--version", "6.42beta3x"}, "invalid version",
       "usage: pkgtool build"},
      {{"build", "-o", out, "--name", "0123456789abcdefg", "--version", "1.0"}, "invalid name",
       "usage: pkgtool build"},
      {{"build", "-o", out, "--name", "a", "--version", "1.0", "--depends", "x:1.0:2.0:3:4"},
       "invalid --depends entry", "usage: pkgtool build"},
      {{"build", "-o", out, "--name", "a", "--version", "1.0", "--build-time", "4294967296"},
       "invalid build time", "usage: pkgtool build"},
      {{"build", "-o", out, "--name", "a", "--version", "1.0", "--sha256"},
       "--sha256 needs --sign", "usage: pkgtool build"},
      {{"build", "--bogus"}, "unknown option \"--bogus\"", "usage: pkgtool build"},
      {{"build", "-o"}, "option \"--output\" needs a value", "usage: pkgtool build"},
      {{"bundle", "-o", out, "--name", "b", "--version", "1.0"}, "at least one PACKAGE",
       "usage: pkgtool bundle"},
      {{"bundle", "-o", out, "--name", "b", "--version", "1.0", "--depends", "x", "p.zpk"},
       "unknown option \"--depends\"", "usage: pkgtool bundle"},
      {{"verify", "--level", "3", "f"}, "--level is 1 or 2", "usage: pkgtool verify"},
      {{"keygen"}, "one DIRECTORY is needed", "usage: pkgtool keygen"},
      {{"db", "--json"}, "one ROOT is needed", "usage: pkgtool db"},
      {{"sign", "--json=x", "f"}, "unknown option \"--json\"", "usage: pkgtool sign"},
  };
  for (const Case& c : cases) {
    const RunResult result = runPkgtool(c.args, {"SOURCE_DATE_EPOCH=5"});
    const std::string label = c.args.empty() ? "(none)" : c.args[0] + " ... " + c.args.back();
    EXPECT_EQ(result.status, 2) << label;
    EXPECT_TRUE(result.out.empty()) << label;
    EXPECT_NE(result.err.find(std::string("pkgtool: ") + c.complaint), std::string::npos)
        << label << "\n" << result.err;
    EXPECT_NE(result.err.find(std::string("\n") + c.usage), std::string::npos)
        << label << "\n" << result.err;
  }
  EXPECT_FALSE(dir.exists("out.zpk"));
}

TEST(PkgtoolUsage, HelpGoesToStandardOutputWithStatusZero) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--help"}, {"help", "verify"}, {"verify", "--help"},
        {"build", "-o", "x", "--help"}}) {
    const RunResult result = runPkgtool(args);
    EXPECT_EQ(result.status, 0) << args[0];
    EXPECT_EQ(result.out.rfind("usage: pkgtool ", 0), 0u) << result.out;
    EXPECT_TRUE(result.err.empty()) << result.err;
  }
  EXPECT_NE(runPkgtool({"verify", "--help"}).out.find("--level 1|2"), std::string::npos);
}

}  // namespace
