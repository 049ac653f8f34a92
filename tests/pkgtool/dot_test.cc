// db --dot of the real tool: the installed set as a Graphviz graph, read back by
// Graphviz's own dot, with names that try to break out of their quotes.

#include <unistd.h>

#include <algorithm>

#include "pkgtool/pkgtool_runner.h"

namespace {

constexpr char kDot[] = "/usr/bin/dot";

// system provides shell; the bundle suite holds web (needs system) and mail (needs
// shell); legacy is disabled, needs a crypto nobody has and conflicts with mail; the
// last name holds a quote and a backslash that would start a label escape ("\N"), and
// needs a name with an escape character.
void layOutDatabase(const ScratchRoot& root) {
  const std::string hostile = "q\"b\\N";
  for (const std::string name : {"system", "suite", "web", "mail", "legacy", hostile.c_str()}) {
    root.write("flash/var/pdb/" + name + "/version", "16803328 1\n");  // 1.0
    if (name != "suite") root.write("flash/var/pdb/" + name + "/files", "");
  }
  root.write("flash/var/pdb/system/provides", "shell 0 0 0\n");
  root.write("flash/var/pdb/web/deps", "system 0 0\n");
  root.write("flash/var/pdb/web/bundle", "suite\n");
  root.write("flash/var/pdb/mail/deps", "shell 0 0\n");
  root.write("flash/var/pdb/mail/bundle", "suite\n");
  root.write("flash/var/pdb/legacy/deps", "crypto 16803328 0\n");
  root.write("flash/var/pdb/legacy/conflicts", "mail 0 0\n");
  root.write("flash/var/pdb/legacy/disabled", "user\n");
  root.write("flash/var/pdb/" + hostile + "/deps", "ev\x1bil 0 0\n");
}

TEST(PkgtoolDbDot, DrawsNeedsConflictsBundlesAndWhatIsMissing) {
  ScratchRoot root;
  layOutDatabase(root);
  const std::string dot = pkgtool(root, "db --dot @").out;
  const std::string lines[] = {
      R"(  "web" -> "system";)",
      R"(  "mail" -> "system" [label="shell"];)",
      R"(  "legacy" [label="legacy\n1.0\ndisabled", color=gray60, fontcolor=gray60];)",
      R"(  "missing crypto-1.0" [label="crypto-1.0\nmissing", style=dashed];)",
      R"(  "legacy" -> "missing crypto-1.0" [style=dashed];)",
      R"(  "legacy" -> "mail" [style=dashed, color=red, arrowhead=tee, label="conflicts"];)",
      R"(  "q\"b\\\\N" -> "missing ev\\x1bil" [style=dashed];)",
  };
  for (const std::string& line : lines)
    EXPECT_NE(dot.find("\n" + line + "\n"), std::string::npos) << line << "\n" << dot;
  EXPECT_TRUE(std::none_of(dot.begin(), dot.end(), [](char c) { return c < 0x20 && c != '\n'; }));

  // The bundle's cluster holds the bundle and both members, and nothing else.
  const size_t start = dot.find("  subgraph \"cluster_0\" {\n");
  ASSERT_NE(start, std::string::npos) << dot;
  const std::string cluster = dot.substr(start, dot.find("\n  }\n", start) - start);
  for (const char* node : {R"("suite" [label="suite\n1.0", shape=box3d];)",
                           R"("web" [label="web\n1.0"];)", R"("mail" [label="mail\n1.0"];)"})
    EXPECT_NE(cluster.find(node), std::string::npos) << node << "\n" << cluster;
  EXPECT_EQ(std::count(cluster.begin(), cluster.end(), '\n'), 5) << cluster;

  EXPECT_EQ(pkgtool(root, "db --dot --json @", 2).out, "");
}

// Graphviz reads the graph without a complaint, with every node and edge apart.
TEST(PkgtoolDbDot, GraphvizReadsIt) {
  if (access(kDot, X_OK) != 0)
    GTEST_SKIP() << "Graphviz's dot is not installed (Debian package graphviz)";
  ScratchRoot root;
  layOutDatabase(root);
  const RunResult plain = runProgram({kDot, "-Tplain"}, pkgtool(root, "db --dot @").out);
  EXPECT_EQ(plain.status, 0);
  EXPECT_EQ(plain.err, "");
  size_t nodes = 0;
  size_t edges = 0;
  std::istringstream lines(plain.out);
  for (std::string line; std::getline(lines, line);) {
    nodes += line.rfind("node ", 0) == 0;
    edges += line.rfind("edge ", 0) == 0;
  }
  EXPECT_EQ(nodes, 8u) << plain.out;  // six packages, two missing names
  EXPECT_EQ(edges, 5u) << plain.out;
}

}  // namespace
