// The installer's command line, run as a whole program. Runs that could touch the
// router's paths happen inside a scratch root under chroot.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/scratch_root.h"

namespace {

const std::string kUsage = "usage: installer [-q] [-r <root>] [-]\n";
// Header row and rule of the listing: "Name" in 16 columns, four blanks, "Version"
// in 13, a blank, "Built" in 20, "Note" in 40.
const std::string kHeader = "Name" + std::string(12 + 4, ' ') + "Version" + std::string(6 + 1, ' ') +
                            "Built" + std::string(15, ' ') + "Note" + std::string(36, ' ') + "\n" +
                            std::string(94, '-') + "\n";

struct ArgumentCase {
  std::vector<std::string> arguments;
  std::string out;
};

class CommandLineEndsEarly : public ::testing::TestWithParam<ArgumentCase> {};

// These runs end during parsing, before any change of root or file access.
TEST_P(CommandLineEndsEarly, PrintsExactlyAndExitsWithZero) {
  std::vector<std::string> argv = {INSTALLER_BINARY};
  argv.insert(argv.end(), GetParam().arguments.begin(), GetParam().arguments.end());
  const RunResult run = runProgram(argv, "", {"board"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, GetParam().out);
  EXPECT_EQ(run.err, "");
}

INSTANTIATE_TEST_SUITE_P(
    Usage, CommandLineEndsEarly,
    ::testing::Values(
        ArgumentCase{{"--bogus"}, kUsage},
        ArgumentCase{{"-R"}, kUsage},
        ArgumentCase{{"--SHOW"}, kUsage},
        ArgumentCase{{"-r"}, kUsage},
        ArgumentCase{{"-q", "-r", "/x", "-r"}, kUsage},
        ArgumentCase{{"--month"}, kUsage},
        ArgumentCase{{"-b", "--force", "--noupgrade", "-i", "--month", "--show", "-x"}, kUsage},
        ArgumentCase{{"--reinstall", "--bogus"}, "\nResuming upgrade...\n" + kUsage},
        ArgumentCase{{"--bogus", "--reinstall"}, kUsage},
        ArgumentCase{{"--reinstall", "--reinstall", "?"},
                     "\nResuming upgrade...\n\nResuming upgrade...\n" + kUsage}));

TEST(CommandLine, EmulatorBoardIsASilentNoOp) {
  for (const std::vector<std::string>& arguments :
       std::vector<std::vector<std::string>>{{"--show"}, {"--bogus"}, {"--commit"}, {"--cancel"}}) {
    std::vector<std::string> argv = {INSTALLER_BINARY};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const RunResult run = runProgram(argv, "", {"board=qemu_p9"});
    EXPECT_EQ(run.status, 0) << arguments[0];
    EXPECT_EQ(run.out, "") << arguments[0];
    EXPECT_EQ(run.err, "") << arguments[0];
  }
}

class InstallerRoot : public ::testing::Test {
 protected:
  void SetUp() override {
    root.installBinary();
    root.makeDirectory("flash/var/pdb");
  }
  ScratchRoot root;
};

// How the arguments before the mode decide what a listing run shows. "--cleanup"
// and "-" end the parsing: nothing after them is examined.
TEST_F(InstallerRoot, ArgumentsBeforeTheMode) {
  root.write("inner/flash/var/pdb/inner/version", "1 2\n");
  const struct {
    std::vector<std::string> arguments;
    int status;
    std::string out, err;
  } cases[] = {
      {{"--show", "--cleanup"}, 0, kHeader, ""},
      {{"--cleanup", "--show", "--bogus"}, 0, "", ""},
      {{"-", "--show", "--bogus"}, 1, "", ""},
      // A root that cannot be entered ends the run before anything else happens.
      {{"-r", "/no/such/root", "--show"}, 1, "", "chroot: No such file or directory\n"},
      {{"-r", "/no/such/root", "-r", "/inner", "--show"}, 0,
       kHeader + "inner" + std::string(11 + 4, ' ') + "0.01" + std::string(9 + 1, ' ') +
           "Jan/01/1970 00:00:02 " + std::string(40, ' ') + "\n",
       ""},
  };
  for (const auto& c : cases) {
    const RunResult run = runInChroot(root, c.arguments);
    EXPECT_EQ(run.status, c.status) << c.arguments[0];
    EXPECT_EQ(run.out, c.out) << c.arguments[0];
    EXPECT_EQ(run.err, c.err) << c.arguments[0];
  }
}

// "--commit" acts while it is parsed: the root given before it is not yet in effect
// and nothing after it is examined. Renames turn no spinner.
TEST_F(InstallerRoot, CommitAppliesTheManifestOfTheCurrentRoot) {
  root.write("flash/tmp111111", "new a\n");
  root.write("flash/old", "old\n");
  root.write("ram/MANIFEST", "M /flash/bin/a /flash/tmp111111\nU /flash/old\n");
  root.write("inner/flash/tmp111111", "inner\n");
  root.write("inner/ram/MANIFEST", "M /flash/bin/a /flash/tmp111111\n");
  const RunResult run = runInChroot(root, {"-r", "/inner", "--commit", "--bogus"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "finishing install... \b \n");
  EXPECT_EQ(root.read("flash/bin/a"), "new a\n");
  EXPECT_FALSE(root.exists("flash/old"));
  EXPECT_FALSE(root.exists("inner/flash/bin/a"));
  EXPECT_TRUE(root.exists("ram/MANIFEST"));  // left for the boot stage
}

TEST_F(InstallerRoot, CommitCopiesAcrossFileSystemsWithTheSpinner) {
  if (!root.mountTmpfs("ram", 1 << 20)) GTEST_SKIP() << "mounting a tmpfs is not allowed here";
  root.write("ram/tmp222222", "across\n", 0640);
  root.write("ram/MANIFEST", "M /flash/etc/b /ram/tmp222222\n");
  const RunResult run = runInChroot(root, {"--commit"});
  EXPECT_EQ(run.status, 0);
  // One chunk copied: the first spinner character, then "\b " erases it.
  EXPECT_EQ(run.out, "finishing install... |\b \n");
  EXPECT_EQ(root.read("flash/etc/b"), "across\n");
  EXPECT_TRUE(root.exists("ram/tmp222222"));
}

TEST_F(InstallerRoot, CancelDropsTheManifestAndKeepsThePreparedFiles) {
  root.write("ram/tmp444444", "prepared\n");
  root.write("flash/keep", "kept\n");
  root.write("ram/MANIFEST", "M /flash/new /ram/tmp444444\nU /flash/keep\n");
  const RunResult run = runInChroot(root, {"--cancel", "--bogus"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_FALSE(root.exists("ram/MANIFEST"));
  EXPECT_EQ(root.read("ram/tmp444444"), "prepared\n");
  EXPECT_FALSE(root.exists("flash/new"));
  EXPECT_EQ(root.read("flash/keep"), "kept\n");
}

}  // namespace
