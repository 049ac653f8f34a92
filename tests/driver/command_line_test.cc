// The installer's command line, run as a whole program. Runs that could touch the
// router's paths happen inside a scratch root under chroot.

#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <tuple>
#include <vector>

#include "support/console_text.h"
#include "support/scratch_root.h"

namespace {

using namespace std::string_literals;

const std::string kUsage = "usage: installer [-q] [-r <root>] [-]\n";

// These runs end during parsing, before any change of root or file access, with
// status 0; on the emulator board every run is a silent no-op.
TEST(CommandLine, RunsThatEndWhileParsing) {
  const std::string resuming = "\nResuming upgrade...\n";
  const std::tuple<const char*, std::vector<std::string>, std::string> cases[] = {
      {"board", {"--bogus"}, kUsage}, {"board", {"-R"}, kUsage}, {"board", {"--SHOW"}, kUsage},
      {"board", {"-r"}, kUsage}, {"board", {"-q", "-r", "/x", "-r"}, kUsage},
      {"board", {"--month"}, kUsage},
      {"board", {"-b", "--force", "--noupgrade", "-i", "--month", "--show", "-x"}, kUsage},
      {"board", {"--reinstall", "--bogus"}, resuming + kUsage},
      {"board", {"--bogus", "--reinstall"}, kUsage},
      {"board", {"--reinstall", "--reinstall", "?"}, resuming + resuming + kUsage},
      {"board=qemu_p9", {"--show"}, ""}, {"board=qemu_p9", {"--bogus"}, ""},
      {"board=qemu_p9", {"--commit"}, ""}, {"board=qemu_p9", {"--cancel"}, ""}};
  for (const auto& [board, arguments, out] : cases) {
    std::vector<std::string> argv = {INSTALLER_BINARY};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const RunResult run = runProgram(argv, "", {board});
    EXPECT_EQ(run.status, 0) << board << ' ' << arguments[0];
    EXPECT_EQ(run.out, out) << board << ' ' << arguments[0];
    EXPECT_EQ(run.err, "") << board << ' ' << arguments[0];
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
// and "-" end the parsing: nothing after them is examined. "/bare" has no database.
TEST_F(InstallerRoot, ArgumentsBeforeTheMode) {
  root.write("inner/flash/var/pdb/inner/version", "1 2\n");
  root.write("inner/flash/var/pdb/inner/bundle", "core\n");
  root.write("inner/flash/var/pdb/inner/disabled", "auto\n");
  root.makeDirectory("bare");
  const std::tuple<std::vector<std::string>, int, std::string, std::string> cases[] = {
      {{"--show", "--cleanup"}, 0, kListingHeader, ""},
      {{"--cleanup", "--show", "--bogus"}, 0, "", ""},
      {{"-", "--show", "--bogus"}, 1, "", ""},
      {{"-r", "/bare", "--show"}, 0, "WARNING: could not open repo\n" + kListingHeader, ""},
      {{"-q", "-r", "/bare", "--show"}, 0, kListingHeader, ""},
      // A root that cannot be entered ends the run before anything else happens.
      {{"-r", "/no/such/root", "--show"}, 1, "", "chroot: No such file or directory\n"},
      {{"-r", "/no/such/root", "-r", "/inner", "--show"}, 0,
       kListingHeader + "inner" + std::string(11, ' ') + " XB 0.01" + std::string(10, ' ') +
           "Jan/01/1970 00:00:02 " + std::string(40, ' ') + "\n",
       ""}};
  for (const auto& [arguments, status, out, err] : cases) {
    const RunResult run = runInChroot(root, arguments);
    EXPECT_EQ(run.status, status) << arguments[0];
    EXPECT_EQ(run.out, out) << arguments[0];
    EXPECT_EQ(run.err, err) << arguments[0];
  }
}

// "--commit" applies "/ram/MANIFEST" only when it reads whole: a damaged one applies
// nothing, not even the lines before the damage. "--cancel" drops the manifest and
// keeps the prepared file. Both act while they are parsed: a root given before them
// is not yet in effect and nothing after them is examined.
TEST_F(InstallerRoot, CommitAppliesOnlyAWholeManifestAndCancelDropsIt) {
  const std::string good = "M /flash/new /ram/prepared\nU /flash/old\n";
  const std::string refused = "ERROR: could not read /ram/MANIFEST\n";
  const std::string finished = "finishing install... \b \n";
  root.write("inner/ram/prepared", "inner");
  root.write("inner/ram/MANIFEST", good);
  // Arguments, whether there is a manifest, what follows its good lines, output, applied.
  const std::tuple<std::vector<std::string>, bool, std::string, std::string, bool> cases[] = {
      {{"--commit"}, true, "U\n", refused, false},
      {{"--commit"}, true, "L /flash/link\n", refused, false},
      {{"--commit"}, true, "M /flash/other\n", refused, false},
      {{"--commit"}, true, "oneword\n", refused, false},
      {{"--commit"}, true, "M /flash/a\0b /ram/prepared\n"s, refused, false},
      {{"--commit"}, true, "X /flash/ignored /ram/prepared\n", finished, true},
      {{"--commit"}, false, "", finished, false},
      {{"-r", "/inner", "--commit", "--bogus"}, true, "", finished, true},
      {{"--cancel", "--bogus"}, true, "", "", false}};
  for (const auto& [arguments, present, damage, out, applied] : cases) {
    SCOPED_TRACE(arguments[0] + " " + damage);
    unlink(root.at("flash/new").c_str());
    unlink(root.at("ram/MANIFEST").c_str());
    root.write("ram/prepared", "new");
    root.write("flash/old", "old");
    if (present) root.write("ram/MANIFEST", good + damage);
    const RunResult run = runInChroot(root, arguments);
    EXPECT_EQ(run.status, out == refused ? 1 : 0);
    EXPECT_EQ(run.out, out);
    EXPECT_EQ(root.read("flash/new"), applied ? "new" : "");
    EXPECT_EQ(root.exists("ram/prepared") && root.exists("flash/old"), !applied);
    // A commit leaves the manifest for the boot stage.
    EXPECT_EQ(root.exists("ram/MANIFEST"), present && arguments[0] != "--cancel");
    EXPECT_FALSE(root.exists("inner/flash/new"));
  }
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

}  // namespace
