#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <string>
#include <tuple>

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

// Each case starts with the status line "bar" on screen: what it does, the output
// and the status line after it.
TEST_F(ConsoleOutput, StatusLineSequences) {
  using Act = std::function<void(Repository&)>;
  const std::string erased = kHide + "\r   \r" + kShow;
  const std::tuple<const char*, Act, std::string, std::string> cases[] = {
      {"same text again", [](Repository& r) { r.setStatus("bar"); }, "", "bar"},
      {"longer text", [](Repository& r) { r.setStatus("abcdef"); }, kHide + "\rabcdef\r" + kShow,
       "abcdef"},
      {"shorter text pads", [](Repository& r) { r.setStatus("x"); }, kHide + "\rx  \r" + kShow,
       "x"},
      {"erase", [](Repository& r) { r.setStatus(""); }, erased, ""},
      {"warning redraws", [](Repository& r) { r.warning("careful"); },
       kBlankLine + "WARNING: careful\nbar", "bar"},
      {"error removes", [](Repository& r) { r.error("failed"); }, erased + "ERROR: failed\n", ""},
      {"info removes", [](Repository& r) { r.info("done"); }, erased + "done\n", ""}};
  for (const auto& [name, act, out, statusAfter] : cases) {
    repository.statusLine.clear();
    repository.setStatus("bar");
    EXPECT_EQ(console.text(), kHide + "\rbar\r" + kShow);
    console.clear();
    act(repository);
    EXPECT_EQ(console.text(), out) << name;
    EXPECT_EQ(repository.statusLine, statusAfter) << name;
    console.clear();
  }
}

TEST_F(ConsoleOutput, LongTextIsCutAt255CharactersBeforeThePrefix) {
  repository.warning("%s", std::string(300, 'x').c_str());
  const std::string expected = "WARNING: " + std::string(255, 'x');
  EXPECT_EQ(console.text(), expected + "\n");
  EXPECT_EQ(repository.messageLog, std::vector<std::string>{expected});
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

TEST_F(ConsoleOutput, FailureMessagesNameThePackageAndFollowErrno) {
  InstalledPackage package("wireless");
  package.version = 0x062A6603;
  const std::pair<int, std::string> cases[] = {
      {ENOSPC, "installation of wireless-6.42.3 failed: disk is too small"},
      {EIO, "installation of wireless-6.42.3 failed: disk error"},
      {EACCES, "installation of wireless-6.42.3 failed: could not create meta/files: "
               "Permission denied"}};
  for (const auto& [code, message] : cases) {
    errno = code;
    repository.reportCreateFailure(package, "meta/files");
    EXPECT_EQ(repository.messageLog.back(), "ERROR: " + message);
  }
  package.bundle = DependencyEntry{"core", 0x062A6603, 0x062A6603, 0};
  repository.reportBrokenPackage(package);
  EXPECT_EQ(repository.messageLog.back(),
            "ERROR: installation of core-6.42.3 failed: broken package");
}

TEST(RepositoryLookup, FindsTheFirstOfTheExactName) {
  Repository repository;
  for (const char* name : {"ab", "a", "A", "a"})
    repository.packages.push_back(std::make_unique<InstalledPackage>(name));
  EXPECT_EQ(repository.findPackage("a"), 1);
  EXPECT_EQ(repository.findPackage("A"), 2);
  EXPECT_EQ(repository.findPackage("b"), -1);
  EXPECT_EQ(repository.findPackageRecord("a"), repository.packages[1].get());
  EXPECT_EQ(repository.findPackageRecord("abc"), nullptr);

  // The lookup follows the set through every kind of change.
  repository.addPackage(std::make_unique<InstalledPackage>("b"));
  EXPECT_EQ(repository.findPackage("b"), 4);
  repository.removePackage(repository.packages[1].get());
  EXPECT_EQ(repository.findPackage("a"), 2);
  EXPECT_EQ(repository.findPackage("b"), 3);
  repository.packages.push_back(std::make_unique<InstalledPackage>("c"));
  EXPECT_EQ(repository.findPackage("c"), 4);
  repository.clearPackages();
  EXPECT_EQ(repository.findPackage("a"), -1);
  repository.addPackage(std::make_unique<InstalledPackage>("a"));
  EXPECT_EQ(repository.findPackage("a"), 0);
}

}  // namespace
