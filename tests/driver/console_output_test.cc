#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "support/console_capture.h"

namespace {

const std::string kBlankLine = "\r" + std::string(79, ' ') + "\r";
const std::string kHide = "\x1b[?25l";
const std::string kShow = "\x1b[?25h";

class ConsoleOutput : public ::testing::Test {
 protected:
  ConsoleOutput() : repository(freshRepository()) {}
  ~ConsoleOutput() override { freshRepository(); }
  Repository& repository;
  ConsoleCapture console;
};

TEST_F(ConsoleOutput, MessagesWithoutStatusLine) {
  repository.warning("disk %d", 1);
  repository.error("broken %s", "x");
  repository.info("installed %s", "a-1.0");
  EXPECT_EQ(console.text(), "WARNING: disk 1\nERROR: broken x\ninstalled a-1.0\n");
  EXPECT_EQ(repository.messageLog,
            (std::vector<std::string>{"WARNING: disk 1", "ERROR: broken x", "installed a-1.0"}));
}

TEST_F(ConsoleOutput, StatusLineIsDrawnWithHiddenCursor) {
  repository.setStatus("installing a [##  ]");
  EXPECT_EQ(console.text(), kHide + "\rinstalling a [##  ]\r" + kShow);
  EXPECT_EQ(repository.statusLine, "installing a [##  ]");
}

TEST_F(ConsoleOutput, SameStatusTwicePrintsNothingTheSecondTime) {
  repository.setStatus("enabling x...");
  console.clear();
  repository.setStatus("enabling x...");
  EXPECT_EQ(console.text(), "");
}

TEST_F(ConsoleOutput, ShorterStatusPadsOverTheOldOne) {
  repository.setStatus("abcdef");
  console.clear();
  repository.setStatus("xy");
  EXPECT_EQ(console.text(), kHide + "\rxy    \r" + kShow);
  console.clear();
  repository.setStatus("");
  EXPECT_EQ(console.text(), kHide + "\r  \r" + kShow);
  EXPECT_EQ(repository.statusLine, "");
}

TEST_F(ConsoleOutput, WarningKeepsTheStatusLineBelowIt) {
  repository.setStatus("bar");
  console.clear();
  repository.warning("careful");
  EXPECT_EQ(console.text(), kBlankLine + "WARNING: careful\nbar");
  EXPECT_EQ(repository.statusLine, "bar");
}

TEST_F(ConsoleOutput, ErrorAndInfoRemoveTheStatusLine) {
  for (bool useError : {true, false}) {
    repository.setStatus("bar");
    console.clear();
    if (useError)
      repository.error("failed");
    else
      repository.info("done");
    const std::string line = useError ? "ERROR: failed\n" : "done\n";
    EXPECT_EQ(console.text(), kHide + "\r   \r" + kShow + line);
    EXPECT_EQ(repository.statusLine, "");
  }
}

TEST_F(ConsoleOutput, LongTextIsCutAt255CharactersBeforeThePrefix) {
  const std::string longText(300, 'x');
  repository.warning("%s", longText.c_str());
  const std::string expected = "WARNING: " + std::string(255, 'x');
  EXPECT_EQ(console.text(), expected + "\n");
  ASSERT_EQ(repository.messageLog.size(), 1u);
  EXPECT_EQ(repository.messageLog[0], expected);
}

TEST_F(ConsoleOutput, QuietPrintsAndLogsNothing) {
  repository.quiet = true;
  repository.warning("w");
  repository.error("e");
  repository.info("i");
  repository.setStatus("bar");
  EXPECT_EQ(console.text(), "");
  EXPECT_TRUE(repository.messageLog.empty());
  EXPECT_EQ(repository.statusLine, "");
}

TEST_F(ConsoleOutput, CreateFailureMessageFollowsErrno) {
  InstalledPackage package("wireless");
  package.version = 0x062A6603;
  struct Case {
    int code;
    std::string message;
  } cases[] = {
      {ENOSPC, "ERROR: installation of wireless-6.42.3 failed: disk is too small"},
      {EIO, "ERROR: installation of wireless-6.42.3 failed: disk error"},
      {EACCES,
       "ERROR: installation of wireless-6.42.3 failed: could not create meta/files: "
       "Permission denied"},
  };
  for (const Case& c : cases) {
    errno = c.code;
    repository.reportCreateFailure(package, "meta/files");
    EXPECT_EQ(repository.messageLog.back(), c.message);
  }
}

TEST_F(ConsoleOutput, BrokenPackageNamesTheBundle) {
  InstalledPackage member("dhcp");
  member.bundle = DependencyEntry{"routeros", 0x062A6603, 0x062A6603, 0};
  repository.reportBrokenPackage(member);
  EXPECT_EQ(console.text(), "ERROR: installation of routeros-6.42.3 failed: broken package\n");
}

TEST(RepositoryLookup, FindsTheFirstOfTheExactName) {
  Repository repository;
  for (const char* name : {"ab", "a", "A", "a"})
    repository.packages.push_back(std::make_unique<InstalledPackage>(name));
  repository.packages[3]->version = 7;
  EXPECT_EQ(repository.findPackage("a"), 1);
  EXPECT_EQ(repository.findPackage("A"), 2);
  EXPECT_EQ(repository.findPackage("b"), -1);
  EXPECT_EQ(repository.findPackageRecord("a"), repository.packages[1].get());
  EXPECT_EQ(repository.findPackageRecord("abc"), nullptr);
}

TEST(RepositoryLookup, DatabaseDirectoryAndSafeNames) {
  EXPECT_EQ(databaseDir(Package("system")), "/flash/var/pdb/system/");
  for (const char* bad : {"", ".", "..", "a/b", "/"}) EXPECT_FALSE(isSafePackageName(bad)) << bad;
  for (const char* good : {"a", "...", ".hidden", "a.b_c", "x-1"})
    EXPECT_TRUE(isSafePackageName(good)) << good;
}

}  // namespace
