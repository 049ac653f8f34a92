// bundle of the real tool: header parts, members in order, refusals.

#include <gtest/gtest.h>

#include "pkgtool/pkgtool_runner.h"

namespace {

using nlohmann::json;

// Builds member packages "first" (one file) and "second" (payload, no files).
void buildMembers(const ScratchRoot& dir) {
  dir.write("tree/bin/a", "aaa", 0755);
  ASSERT_EQ(runPkgtool({"build", "-o", dir.at("first.zpk"), "--name", "first", "--version",
                        "6.42.1", "--build-time", "10", "--depends", "system:6.42",
                        dir.at("tree")})
                .status,
            0);
  dir.write("blob", "0123456789");
  ASSERT_EQ(runPkgtool({"build", "-o", dir.at("second.zpk"), "--name", "second", "--version",
                        "6.42", "--build-time", "20", "--payload", dir.at("blob")})
                .status,
            0);
}

std::vector<unsigned> partTypes(const json& doc) {
  std::vector<unsigned> types;
  for (const json& part : doc["parts"]) types.push_back(part["type"]);
  return types;
}

TEST(PkgtoolBundle, MembersFollowTheBundleHeadInTheGivenOrder) {
  ScratchRoot dir;
  buildMembers(dir);
  const RunResult made = runPkgtool(
      {"bundle", "-o", dir.at("b.zpk"), "--name", "suite", "--version", "6.42.1",
       "--build-time", "30", "--note", "all of it", "--table", "second", "--table",
       "extra:1.0:2.0:5", dir.at("second.zpk"), dir.at("first.zpk")});
  ASSERT_EQ(made.status, 0) << made.err;
  const json doc = inspectJson(dir.at("b.zpk"));
  ASSERT_FALSE(doc.is_discarded());
  EXPECT_EQ(partTypes(doc),
            (std::vector<unsigned>{18, 23, 21, 20, 1, 21, 4, 9, 1, 3, 4, 9}));
  const json& bundle = doc["bundle"];
  EXPECT_EQ(bundle["name"], "suite");
  EXPECT_EQ(bundle["versionText"], "6.42.1");
  EXPECT_EQ(bundle["buildTime"], 30u);
  EXPECT_EQ(bundle["note"], "all of it");
  EXPECT_EQ(bundle["hasOpaquePayload"], true);
  EXPECT_EQ(bundle["payloadLength"], 0u);
  EXPECT_EQ(bundle["entryTable"],
            json::parse(R"([{"name":"second","minVersion":0,"maxVersion":0,"priority":0},
                            {"name":"extra","minVersion":16803328,"maxVersion":33580544,
                             "priority":5}])"));
  ASSERT_EQ(doc["packages"].size(), 2u);
  EXPECT_EQ(doc["packages"][0]["name"], "second");
  EXPECT_EQ(doc["packages"][0]["payloadLength"], 10u);
  EXPECT_EQ(doc["packages"][1]["name"], "first");
  EXPECT_EQ(doc["packages"][1]["files"][1]["name"], "bin/a");

  // The members' parts are copied byte for byte, one after the other.
  const std::string file = readFile(dir.at("b.zpk"));
  const std::string members =
      readFile(dir.at("second.zpk")).substr(8) + readFile(dir.at("first.zpk")).substr(8);
  ASSERT_GE(file.size(), members.size());
  EXPECT_EQ(file.substr(file.size() - members.size()), members);
}

TEST(PkgtoolBundle, PayloadPartIsAlwaysWrittenAndTableOnlyWhenGiven) {
  ScratchRoot dir;
  buildMembers(dir);
  ASSERT_EQ(runPkgtool({"bundle", "-o", dir.at("plain.zpk"), "--name", "suite", "--version",
                        "1.0", dir.at("first.zpk")})
                .status,
            0);
  const json plain = inspectJson(dir.at("plain.zpk"));
  EXPECT_EQ(partTypes(plain), (std::vector<unsigned>{18, 21, 1, 3, 4, 9}));
  EXPECT_EQ(plain["parts"][1]["length"], 0u);

  dir.write("image", std::string(777, 'i'));
  ASSERT_EQ(runPkgtool({"bundle", "-o", dir.at("payload.zpk"), "--name", "suite", "--version",
                        "1.0", "--payload", dir.at("image"), dir.at("first.zpk")})
                .status,
            0);
  const json withPayload = inspectJson(dir.at("payload.zpk"));
  EXPECT_EQ(partTypes(withPayload), (std::vector<unsigned>{18, 21, 1, 3, 4, 9}));
  EXPECT_EQ(withPayload["parts"][1]["length"], 777u);
}

TEST(PkgtoolBundle, RefusesMembersThatAreNoSinglePackage) {
  ScratchRoot dir;
  buildMembers(dir);
  ASSERT_EQ(runPkgtool({"bundle", "-o", dir.at("inner.zpk"), "--name", "inner", "--version",
                        "1.0", dir.at("first.zpk")})
                .status,
            0);
  writeFile(dir.at("junk.zpk"), "junk");
  const std::string first = readFile(dir.at("first.zpk"));
  writeFile(dir.at("cut.zpk"), first.substr(0, first.size() - 10));
  struct Case {
    std::vector<std::string> members;
    std::string name;
    const char* expected;
  } cases[] = {
      {{dir.at("first.zpk"), dir.at("inner.zpk")}, "outer", "is a bundle"},
      {{dir.at("junk.zpk")}, "outer", "is not a package file"},
      {{dir.at("missing.zpk")}, "outer", "cannot read"},
      {{dir.at("cut.zpk")}, "outer", "is damaged"},
      {{dir.at("first.zpk")}, "first", "has the bundle's own name"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"bundle", "-o", dir.at("out.zpk"), "--name", c.name,
                                     "--version", "1.0"};
    args.insert(args.end(), c.members.begin(), c.members.end());
    const RunResult result = runPkgtool(args);
    EXPECT_EQ(result.status, 2) << c.expected;
    EXPECT_NE(result.err.find(c.expected), std::string::npos) << result.err;
    EXPECT_FALSE(dir.exists("out.zpk")) << c.expected;
  }
}

}  // namespace
