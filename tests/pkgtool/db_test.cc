// db of the real tool on scratch router roots.

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "pkgtool/pkgtool_runner.h"

namespace {

using nlohmann::json;

// A root with three packages known only from their database directories.
void layOutDatabase(const ScratchRoot& root) {
  root.write("flash/var/pdb/alpha/version", "103310851 1700000000\n");  // 6.40.3
  root.write("flash/var/pdb/alpha/deps", "system 0 0\n");
  root.write("flash/var/pdb/alpha/files", "bin/a\nbin/b\n");
  root.write("flash/var/pdb/alpha/disabled", "user\n");
  root.write("flash/var/pdb/beta/version", "16803328 5\n");  // 1.0
  root.write("flash/var/pdb/beta/deps", "");
  root.write("flash/var/pdb/beta/files", "");
  root.write("ram/pdb/beta/schedule", "disable\n");
  root.write("flash/var/pdb/gamma/version", "1 2\n");
  root.write("flash/var/pdb/gamma/bundle", "suite\n");  // no image supplies it
}

json byName(const json& packages, const std::string& name) {
  for (const json& package : packages)
    if (package["name"] == name) return package;
  return json();
}

TEST(PkgtoolDb, ListsTheInstalledSetAsTheLoaderSeesIt) {
  ScratchRoot root;
  layOutDatabase(root);
  const RunResult result = runPkgtool({"db", "--json", root.path()});
  ASSERT_EQ(result.status, 0) << result.err;
  const json doc = json::parse(result.out, nullptr, false);
  ASSERT_FALSE(doc.is_discarded()) << result.out;
  ASSERT_EQ(doc["packages"].size(), 3u);

  const json alpha = byName(doc["packages"], "alpha");
  EXPECT_EQ(alpha["versionText"], "6.40.3");
  EXPECT_EQ(alpha["buildTime"], 1700000000u);
  EXPECT_EQ(alpha["state"], "disabled");
  EXPECT_EQ(alpha["chosenBy"], "user");
  EXPECT_EQ(alpha["fileCount"], 2u);
  EXPECT_EQ(alpha["isBundle"], false);
  EXPECT_EQ(alpha["schedule"], "");

  const json beta = byName(doc["packages"], "beta");
  EXPECT_EQ(beta["state"], "enabled");
  EXPECT_EQ(beta["chosenBy"], "user");  // the schedule word is a user's choice
  EXPECT_EQ(beta["schedule"], "disable");
  EXPECT_EQ(beta["scheduledAction"], 3u);

  const json gamma = byName(doc["packages"], "gamma");
  EXPECT_EQ(gamma["bundle"], "suite");
  EXPECT_EQ(gamma["isBundle"], true);
  EXPECT_EQ(gamma["schedule"], "uninstall");

  // The readable table has one row per package under its heading.
  const RunResult table = runPkgtool({"db", root.path()});
  ASSERT_EQ(table.status, 0) << table.err;
  std::istringstream lines(table.out);
  std::string line;
  std::vector<std::string> rows;
  while (std::getline(lines, line)) rows.push_back(line);
  ASSERT_EQ(rows.size(), 4u) << table.out;
  EXPECT_EQ(rows[0].rfind("NAME ", 0), 0u);
  const auto alphaRow = std::find_if(rows.begin(), rows.end(),
                                     [](const std::string& row) { return row.starts_with("alpha "); });
  ASSERT_NE(alphaRow, rows.end());
  for (const char* field : {" 6.40.3 ", " disabled (user) ", " 2"})
    EXPECT_NE(alphaRow->find(field), std::string::npos) << *alphaRow;
}

TEST(PkgtoolDb, ReadsMembersOfAKeptBundleImage) {
  ScratchRoot root;
  root.write("tree/bin/tool", "t", 0755);
  ASSERT_EQ(runPkgtool({"build", "-o", root.at("member.zpk"), "--name", "member", "--version",
                        "6.42", root.at("tree")})
                .status,
            0);
  root.makeDirectory("flash/var/pdb/suite");
  ASSERT_EQ(runPkgtool({"bundle", "-o", root.at("flash/var/pdb/suite/image"), "--name", "suite",
                        "--version", "6.42", root.at("member.zpk")})
                .status,
            0);
  const RunResult result = runPkgtool({"db", "--json", root.path()});
  ASSERT_EQ(result.status, 0) << result.err;
  const json doc = json::parse(result.out, nullptr, false);
  ASSERT_FALSE(doc.is_discarded()) << result.out;
  EXPECT_EQ(byName(doc["packages"], "member")["bundle"], "suite");
  EXPECT_EQ(byName(doc["packages"], "member")["versionText"], "6.42");
  EXPECT_EQ(byName(doc["packages"], "suite")["isBundle"], true);
}

TEST(PkgtoolDb, WorksWithoutRootThroughAUserNamespace) {
  const std::vector<std::string> asNobody = {"/usr/bin/setpriv", "--reuid=65534",
                                             "--regid=65534", "--clear-groups"};
  auto run = [&](std::vector<std::string> command) {
    command.insert(command.begin(), asNobody.begin(), asNobody.end());
    return runProgram(command);
  };
  if (run({PKGTOOL_BINARY, "--help"}).status != 0)
    GTEST_SKIP() << "cannot run the tool as an unprivileged user here";
  if (run({"/usr/bin/unshare", "--user", "--map-root-user", "--mount", "true"}).status != 0)
    GTEST_SKIP() << "unprivileged user namespaces are not allowed here";
  ScratchRoot root;
  layOutDatabase(root);
  const RunResult result = run({PKGTOOL_BINARY, "db", "--json", root.path()});
  ASSERT_EQ(result.status, 0) << result.err;
  const json doc = json::parse(result.out, nullptr, false);
  ASSERT_FALSE(doc.is_discarded()) << result.out;
  EXPECT_EQ(byName(doc["packages"], "alpha")["versionText"], "6.40.3");
}

TEST(PkgtoolDb, RootWithoutDatabaseIsRefused) {
  ScratchRoot root;
  const RunResult result = runPkgtool({"db", root.path()});
  EXPECT_EQ(result.status, 2);
  EXPECT_TRUE(result.out.empty());
  EXPECT_NE(result.err.find("has no flash/var/pdb/"), std::string::npos) << result.err;
}

}  // namespace
