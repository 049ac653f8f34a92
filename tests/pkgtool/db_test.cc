// db of the real tool on scratch router roots.

#include <map>

#include "pkgtool/pkgtool_runner.h"

namespace {

// A root with three packages known only from their database directories.
void layOutDatabase(const ScratchRoot& root) {
  root.write("flash/var/pdb/alpha/version", "103310851 1700000000\n");  // 6.40.3
  root.write("flash/var/pdb/alpha/deps", "system 0 0\n");
  root.write("flash/var/pdb/alpha/files", "bin/a\nbin/b\n");
  root.write("flash/var/pdb/alpha/disabled", "user\n");
  root.write("flash/var/pdb/beta/version", "16803328 5\n");  // 1.0
  root.write("flash/var/pdb/beta/files", "");
  root.write("ram/pdb/beta/schedule", "disable\n");
  root.write("flash/var/pdb/gamma/version", "1 2\n");
  root.write("flash/var/pdb/gamma/bundle", "suite\x1b\n");  // no image supplies it
}

// The packages "db --json" lists for root, by name, run after the words of prefix.
std::map<std::string, json> listed(const ScratchRoot& root, std::vector<std::string> prefix = {}) {
  prefix.insert(prefix.end(), {PKGTOOL_BINARY, "db", "--json", root.path()});
  const RunResult result = runProgram(prefix);
  EXPECT_EQ(result.status, 0) << result.err;
  std::map<std::string, json> packages;
  const json doc = json::parse(result.out, nullptr, false);
  if (doc.is_object())
    for (const json& package : doc["packages"]) packages[package["name"]] = package;
  return packages;
}

TEST(PkgtoolDb, ListsTheInstalledSetAsTheLoaderSeesItOrRefusesARootWithoutOne) {
  ScratchRoot root;
  layOutDatabase(root);
  expectFields(listed(root)["alpha"], R"({"versionText":"6.40.3","buildTime":1700000000,
    "state":"disabled","chosenBy":"user","fileCount":2,"isBundle":false,"schedule":""})"_json);
  expectFields(listed(root)["gamma"], R"({"bundle":"suite\u001b","scheduledAction":1})"_json);

  // The table: a heading and one row per package, the rows in the loader's order (that of
  // the directory listing). A schedule word is a user's choice; control characters show
  // escaped.
  const std::string table = pkgtool(root, "db @").out;
  const std::string rows[] = {
      "NAME             VERSION        STATE            BUNDLE           SCHEDULE  FILES\n",
      "alpha            6.40.3         disabled (user)  -                -         2\n",
      "beta             1.0            enabled (user)   -                disable   0\n",
      "gamma            0.01           enabled (auto)   suite\\x1b        uninstall bundle\n"};
  for (const std::string& row : rows) EXPECT_NE(table.find(row), std::string::npos) << table;
  EXPECT_EQ(table.size(), rows[0].size() + rows[1].size() + rows[2].size() + rows[3].size());

  ScratchRoot bare;
  EXPECT_EQ(pkgtool(bare, "db @", 2).err, "pkgtool: " + bare.path() + "/ has no flash/var/pdb/\n");
}

TEST(PkgtoolDb, WorksWithoutRootThroughAUserNamespace) {
  const std::vector<std::string> nobody = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                           "--clear-groups"};
  std::vector<std::string> probe = nobody;
  probe.insert(probe.end(), {"/usr/bin/unshare", "--user", "--map-root-user", "--mount", "true"});
  if (runProgram(probe).status != 0) GTEST_SKIP() << "no unprivileged user namespaces here";
  ScratchRoot root;
  layOutDatabase(root);
  expectFields(listed(root, nobody)["alpha"], R"({"versionText":"6.40.3"})"_json);
}

}  // namespace
