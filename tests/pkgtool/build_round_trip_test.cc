// build and inspect --json of the real tool, checked against each other.

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "pkgtool/package_builder.h"
#include "pkgtool/pkgtool_runner.h"

namespace {

using nlohmann::json;

// A source tree with a nested executable, an empty private file, a restricted
// directory and a symbolic link.
void makeTree(const ScratchRoot& dir, const std::string& top) {
  dir.write(top + "/bin/tool", "#!/bin/sh\necho tool\n", 0755);
  dir.write(top + "/etc/app/secret", "", 0600);
  dir.write(top + "/etc/app.conf", "key=value\n", 0644);
  dir.makeDirectory(top + "/lib");
  // Directory modes are set explicitly so that the umask does not matter.
  for (const char* sub : {"/bin", "/etc/app", "/lib"}) chmod(dir.at(top + sub).c_str(), 0755);
  chmod(dir.at(top + "/etc").c_str(), 0750);
  ASSERT_EQ(symlink("../bin/tool", dir.at(top + "/lib/tool-link").c_str()), 0);
}

std::vector<std::string> fullOptions(const ScratchRoot& dir, const std::string& output) {
  return {"build",     "-o",         output,
          "--name",    "wireless",   "--version",
          "6.41rc5",   "--build-time", "1700000000",
          "--arch",    "mipsbe",     "--note",
          "radio driver",            "--flags",
          "0x5",       "--text2",    "two",
          "--text24",  "twenty-four", "--depends",
          "system:6.40:6.49.9",      "--depends",
          "dhcp",      "--provides", "radio:1.2::-7",
          "--conflicts", "legacy-wl::6.39:3",
          "--payload", dir.at("payload.bin"),
          dir.at("tree")};
}

TEST(PkgtoolBuild, InspectShowsEveryMetadataField) {
  ScratchRoot dir;
  makeTree(dir, "tree");
  dir.write("payload.bin", std::string(1000, 'p'));
  const RunResult built = runPkgtool(fullOptions(dir, dir.at("out.zpk")));
  ASSERT_EQ(built.status, 0) << built.err;
  const json doc = inspectJson(dir.at("out.zpk"));
  ASSERT_FALSE(doc.is_discarded());
  ASSERT_EQ(doc["packages"].size(), 1u);
  const json& p = doc["packages"][0];
  EXPECT_EQ(p["name"], "wireless");
  EXPECT_EQ(p["version"], 0x06296305u);
  EXPECT_EQ(p["versionText"], "6.41rc5");
  EXPECT_EQ(p["buildTime"], 1700000000u);
  EXPECT_EQ(p["flags"], 5u);
  EXPECT_EQ(p["architecture"], "mipsbe");
  EXPECT_EQ(p["note"], "radio driver");
  EXPECT_EQ(p["part2Text"], "two");
  EXPECT_EQ(p["part24Text"], "twenty-four");
  EXPECT_EQ(p["dependencies"],
            json::parse(R"([{"name":"system","minVersion":103310848,"maxVersion":103900681,"priority":0},
                            {"name":"dhcp","minVersion":0,"maxVersion":0,"priority":0}])"));
  EXPECT_EQ(p["provides"], json::parse(R"([{"name":"radio","minVersion":16934400,
                                            "maxVersion":0,"priority":-7}])"));
  EXPECT_EQ(p["conflicts"], json::parse(R"([{"name":"legacy-wl","minVersion":0,
                                             "maxVersion":103245312,"priority":3}])"));
  EXPECT_EQ(p["hasOpaquePayload"], true);
  EXPECT_EQ(p["payloadLength"], 1000u);
  EXPECT_EQ(p["signatureLength"], 0u);
  EXPECT_FALSE(doc.contains("bundle"));
  EXPECT_TRUE(doc["problems"].empty());
}

TEST(PkgtoolBuild, FilesKeepModesSizesAndLinkTargetsInPathOrder) {
  ScratchRoot dir;
  makeTree(dir, "tree");
  const RunResult built = runPkgtool({"build", "-o", dir.at("out.zpk"), "--name", "app",
                                      "--version", "1.0", dir.at("tree")});
  ASSERT_EQ(built.status, 0) << built.err;
  const json doc = inspectJson(dir.at("out.zpk"));
  ASSERT_FALSE(doc.is_discarded());
  const json expected = json::parse(R"([
    {"name":"bin","mode":16877,"size":0,"passOver":0},
    {"name":"bin/tool","mode":33261,"size":20,"passOver":0},
    {"name":"etc","mode":16872,"size":0,"passOver":0},
    {"name":"etc/app","mode":16877,"size":0,"passOver":0},
    {"name":"etc/app.conf","mode":33188,"size":10,"passOver":0},
    {"name":"etc/app/secret","mode":33152,"size":0,"passOver":0},
    {"name":"lib","mode":16877,"size":0,"passOver":0},
    {"name":"lib/tool-link","mode":41471,"size":11,"passOver":0,"target":"../bin/tool"}])");
  EXPECT_EQ(doc["packages"][0]["files"], expected);
}

TEST(PkgtoolBuild, PartsFollowTheInstallersOrderAndCoverTheFile) {
  ScratchRoot dir;
  makeTree(dir, "tree");
  dir.write("payload.bin", "xyz");
  ASSERT_EQ(runPkgtool(fullOptions(dir, dir.at("out.zpk"))).status, 0);
  const json doc = inspectJson(dir.at("out.zpk"));
  ASSERT_FALSE(doc.is_discarded());
  const std::string bytes = readFile(dir.at("out.zpk"));
  EXPECT_EQ(doc["magic"], 0xBAD0F11Eu);
  EXPECT_EQ(doc["declaredSize"], bytes.size());
  std::vector<unsigned> types;
  uint64_t next = 8;
  for (const json& part : doc["parts"]) {
    types.push_back(part["type"]);
    EXPECT_EQ(part["offset"], next);
    next = part["offset"].get<uint64_t>() + 6 + part["length"].get<uint64_t>();
  }
  EXPECT_EQ(next, bytes.size());
  EXPECT_EQ(types, (std::vector<unsigned>{1, 24, 16, 2, 23, 3, 19, 17, 21, 4, 9}));
  EXPECT_EQ(doc["parts"][0]["length"], 36u);
}

TEST(PkgtoolBuild, MinimalPackageHasOnlyHeaderContainerAndSignature) {
  ScratchRoot dir;
  ASSERT_EQ(runPkgtool({"build", "-o", dir.at("p.zpk"), "--name", "0123456789abcdef",
                        "--version", "7.1beta3", "--build-time", "0", "--alt-magic"})
                .status,
            0);
  const json doc = inspectJson(dir.at("p.zpk"));
  ASSERT_FALSE(doc.is_discarded());
  EXPECT_EQ(doc["magic"], 0xA1100FFBu);
  std::vector<unsigned> types;
  for (const json& part : doc["parts"]) types.push_back(part["type"]);
  EXPECT_EQ(types, (std::vector<unsigned>{1, 4, 9}));
  const json& p = doc["packages"][0];
  EXPECT_EQ(p["name"], "0123456789abcdef");
  EXPECT_EQ(p["architecture"], "i386");  // what the installer assumes without the part
  EXPECT_EQ(p["hasOpaquePayload"], false);
  EXPECT_TRUE(p["files"].empty());
}

TEST(PkgtoolBuild, SameInputsGiveSameBytes) {
  ScratchRoot dir;
  // The same tree twice, its entries created in opposite orders and at other times.
  makeTree(dir, "one");
  ASSERT_EQ(symlink("../bin/tool", dir.at("two-link").c_str()), 0);
  dir.makeDirectory("two/lib");
  ASSERT_EQ(rename(dir.at("two-link").c_str(), dir.at("two/lib/tool-link").c_str()), 0);
  dir.write("two/etc/app.conf", "key=value\n", 0644);
  dir.write("two/etc/app/secret", "", 0600);
  chmod(dir.at("two/etc").c_str(), 0750);
  dir.write("two/bin/tool", "#!/bin/sh\necho tool\n", 0755);
  for (const char* sub : {"two/bin", "two/etc/app", "two/lib"}) chmod(dir.at(sub).c_str(), 0755);

  auto build = [&](const std::string& tree, const std::string& out,
                   const std::vector<std::string>& environment) {
    return runPkgtool({"build", "-o", dir.at(out), "--name", "app", "--version", "6.42.3",
                       "--note", "n", dir.at(tree)},
                      environment);
  };
  ASSERT_EQ(build("one", "a.zpk", {"SOURCE_DATE_EPOCH=1234567"}).status, 0);
  sleep(1);
  ASSERT_EQ(build("two", "b.zpk", {"SOURCE_DATE_EPOCH=1234567"}).status, 0);
  const std::string first = readFile(dir.at("a.zpk"));
  EXPECT_FALSE(first.empty());
  EXPECT_EQ(first, readFile(dir.at("b.zpk")));
  EXPECT_EQ(inspectJson(dir.at("a.zpk"))["packages"][0]["buildTime"], 1234567u);

  // An explicit build time wins over the environment.
  ASSERT_EQ(runPkgtool({"build", "-o", dir.at("c.zpk"), "--name", "app", "--version", "1.0",
                        "--build-time", "99"},
                       {"SOURCE_DATE_EPOCH=1234567"})
                .status,
            0);
  EXPECT_EQ(inspectJson(dir.at("c.zpk"))["packages"][0]["buildTime"], 99u);
}

TEST(PkgtoolBuild, WithoutBuildTimeOrEpochUsesTheCurrentTime) {
  ScratchRoot dir;
  const auto before = static_cast<uint64_t>(time(nullptr));
  ASSERT_EQ(runPkgtool({"build", "-o", dir.at("p.zpk"), "--name", "a", "--version", "1.0"})
                .status,
            0);
  const uint64_t stamp = inspectJson(dir.at("p.zpk"))["packages"][0]["buildTime"];
  EXPECT_TRUE(stamp >= before && stamp <= static_cast<uint64_t>(time(nullptr))) << stamp;
}

TEST(PkgtoolBuild, RefusesTreesItCannotRepresent) {
  ScratchRoot dir;
  dir.makeDirectory("tree");
  ASSERT_EQ(mkfifo(dir.at("tree/pipe").c_str(), 0644), 0);
  const RunResult result = runPkgtool({"build", "-o", dir.at("p.zpk"), "--name", "a",
                                       "--version", "1.0", dir.at("tree")});
  EXPECT_EQ(result.status, 2);
  EXPECT_NE(result.err.find("tree/pipe"), std::string::npos) << result.err;
  EXPECT_FALSE(dir.exists("p.zpk"));
}

TEST(PkgtoolInspect, ReportsDamageAndRefusesNonPackages) {
  ScratchRoot dir;
  dir.write("tree/f", std::string(5000, 'z'));
  ASSERT_EQ(runPkgtool({"build", "-o", dir.at("p.zpk"), "--name", "a", "--version", "1.0",
                        dir.at("tree")})
                .status,
            0);
  std::string bytes = readFile(dir.at("p.zpk"));
  writeFile(dir.at("cut.zpk"), bytes.substr(0, bytes.size() - 3));
  const RunResult cut = runPkgtool({"inspect", "--json", dir.at("cut.zpk")});
  EXPECT_EQ(cut.status, 1);
  const json doc = json::parse(cut.out, nullptr, false);
  ASSERT_FALSE(doc.is_discarded()) << cut.out;
  EXPECT_FALSE(doc["problems"].empty());
  EXPECT_EQ(doc["packages"][0]["name"], "a");

  // A container whose zlib stream stops half-way through the entry data.
  Package meta("half");
  PartWriter writer;
  writer.part(PackageHeaderPart, encodeHeaderRecord(meta, true));
  const std::string container =
      deflateBytes(encodeContainer({{"big", 0100644, std::string(100000, 'q'), 0}}));
  writer.part(FileContainerPart, container.substr(0, container.size() / 2));
  writer.part(SignaturePart, "");
  writeFile(dir.at("half.zpk"), writer.file(kPackageMagic));
  const RunResult half = runPkgtool({"inspect", "--json", dir.at("half.zpk")});
  EXPECT_EQ(half.status, 1);
  const json halfDoc = json::parse(half.out, nullptr, false);
  ASSERT_FALSE(halfDoc.is_discarded()) << half.out;
  EXPECT_EQ(halfDoc["problems"], json::parse(R"(["the file container of half is damaged"])"));

  writeFile(dir.at("text"), "not a package file at all");
  const RunResult text = runPkgtool({"inspect", dir.at("text")});
  EXPECT_EQ(text.status, 2);
  EXPECT_TRUE(text.out.empty());
  EXPECT_EQ(text.err.rfind("pkgtool: ", 0), 0u) << text.err;

  const RunResult readable = runPkgtool({"inspect", dir.at("p.zpk")});
  EXPECT_EQ(readable.status, 0);
  EXPECT_NE(readable.out.find("package a-1.0\n"), std::string::npos) << readable.out;
  EXPECT_NE(readable.out.find("100644       5000  f\n"), std::string::npos) << readable.out;
}

}  // namespace
