// build, bundle and inspect of the real tool, checked against each other.

#include <sys/stat.h>
#include <unistd.h>

#include "pkgtool/package_builder.h"
#include "pkgtool/pkgtool_runner.h"

namespace {

// A tree with an executable, an empty private file, nested and restricted directories
// and a symbolic link. Directory modes are set so that the umask does not matter.
void makeTree(const ScratchRoot& dir) {
  dir.write("tree/tool", "#!/bin/sh\necho tool\n", 0755);
  dir.write("tree/etc/app/secret", "", 0600);
  dir.write("tree/etc/app.conf", "key=value\n");
  ASSERT_EQ(symlink("etc/app.conf", dir.at("tree/link").c_str()), 0);
  chmod(dir.at("tree/etc").c_str(), 0750);
  chmod(dir.at("tree/etc/app").c_str(), 0755);
}

TEST(PkgtoolBuild, InspectShowsEveryFieldFileAndPart) {
  ScratchRoot dir;
  makeTree(dir);
  dir.write("payload.bin", std::string(1000, 'p'));
  pkgtool(dir,
          "build -o @out.zpk --name wireless --version 6.41rc5 --build-time 1700000000 "
          "--arch mips --note radio --flags 0x5 --text2 two --text24 twenty-four "
          "--depends system:6.40:6.49.9 --depends dhcp --provides radio:1.2::-7 "
          "--conflicts legacy-wl::6.39:3 --payload @payload.bin @tree");
  json doc = inspectJson(dir, "out.zpk");
  const uint64_t size = readFile(dir.at("out.zpk")).size();
  expectFields(doc, {{"magic", 0xBAD0F11E}, {"declaredSize", size}, {"problems", json::array()}});
  expectFields(doc["packages"][0], R"({"name":"wireless","version":103375621,
    "versionText":"6.41rc5","buildTime":1700000000,"flags":5,"architecture":"mips",
    "note":"radio","part2Text":"two","part24Text":"twenty-four","hasOpaquePayload":true,
    "payloadLength":1000,"signatureLength":0,
    "dependencies":[{"name":"system","minVersion":103310848,"maxVersion":103900681,"priority":0},
                    {"name":"dhcp","minVersion":0,"maxVersion":0,"priority":0}],
    "provides":[{"name":"radio","minVersion":16934400,"maxVersion":0,"priority":-7}],
    "conflicts":[{"name":"legacy-wl","minVersion":0,"maxVersion":103245312,"priority":3}],
    "files":[{"name":"etc","mode":16872,"size":0,"passOver":0},
             {"name":"etc/app","mode":16877,"size":0,"passOver":0},
             {"name":"etc/app.conf","mode":33188,"size":10,"passOver":0},
             {"name":"etc/app/secret","mode":33152,"size":0,"passOver":0},
             {"name":"link","mode":41471,"size":12,"passOver":0,"target":"etc/app.conf"},
             {"name":"tool","mode":33261,"size":20,"passOver":0}]})"_json);
  // The parts follow the installer's order.
  EXPECT_EQ(partTypes(doc), (std::vector<unsigned>{1, 24, 16, 2, 23, 3, 19, 17, 21, 4, 9}));
}

TEST(PkgtoolBuild, BuildTimeIsTheOptionTheEpochOrNowAndSameInputsGiveSameBytes) {
  ScratchRoot dir;
  const auto before = static_cast<uint64_t>(time(nullptr));
  pkgtool(dir, "build -o @p.zpk --name 0123456789abcdef --version 7.1beta3 --alt-magic");
  json doc = inspectJson(dir, "p.zpk");
  EXPECT_EQ(doc["magic"], 0xA1100FFBu);
  EXPECT_EQ(partTypes(doc), (std::vector<unsigned>{1, 4, 9}));
  // i386 is what the installer assumes without an architecture part.
  expectFields(doc["packages"][0], R"({"name":"0123456789abcdef","architecture":"i386",
                                      "hasOpaquePayload":false,"files":[]})"_json);
  const uint64_t stamp = doc["packages"][0]["buildTime"];
  EXPECT_TRUE(stamp >= before && stamp <= static_cast<uint64_t>(time(nullptr))) << stamp;

  makeTree(dir);
  const std::vector<std::string> epoch = {"SOURCE_DATE_EPOCH=1234567"};
  pkgtool(dir, "build -o @one.zpk --name app --version 1.0 @tree", 0, epoch);
  sleep(1);
  pkgtool(dir, "build -o @two.zpk --name app --version 1.0 @tree", 0, epoch);
  EXPECT_EQ(readFile(dir.at("one.zpk")), readFile(dir.at("two.zpk")));
  EXPECT_EQ(inspectJson(dir, "one.zpk")["packages"][0]["buildTime"], 1234567u);
  pkgtool(dir, "build -o @three.zpk --name app --version 1.0 --build-time 99", 0, epoch);
  EXPECT_EQ(inspectJson(dir, "three.zpk")["packages"][0]["buildTime"], 99u);
}

TEST(PkgtoolBuild, RefusesTreesItCannotRepresent) {
  ScratchRoot dir;
  dir.makeDirectory("t");
  ASSERT_EQ(mkfifo(dir.at("t/p").c_str(), 0644), 0);
  EXPECT_EQ(pkgtool(dir, "build -o @p.zpk --name a --version 1.0 @t", 2).err,
            "pkgtool: " + dir.at("t/p") + " is neither a file, a directory nor a symbolic link\n");
  EXPECT_FALSE(dir.exists("p.zpk"));
}

TEST(PkgtoolInspect, ReportsDamageAndRefusesNonPackages) {
  ScratchRoot dir;
  dir.write("tree/f", std::string(5000, 'z'));
  pkgtool(dir, "build -o @p.zpk --name a --version 1.0 @tree");
  const std::string summary = pkgtool(dir, "inspect @p.zpk").out;
  EXPECT_NE(summary.find("\npackage a-1.0\n"), std::string::npos) << summary;
  EXPECT_NE(summary.find("\n    100644       5000  f\n"), std::string::npos) << summary;

  // A zlib stream that fails its check value (the last byte before the empty signature
  // part); a cut file is a bundle member below.
  std::string bytes = readFile(dir.at("p.zpk"));
  bytes[bytes.size() - 7] ^= 1;
  writeFile(dir.at("bad.zpk"), bytes);
  EXPECT_EQ(inspectJson(dir, "bad.zpk", 1)["problems"], json{"the file container of a is damaged"});
  writeFile(dir.at("text"), "not a package file at all");
  const RunResult text = pkgtool(dir, "inspect @text", 2);
  EXPECT_EQ(text.out + text.err, "pkgtool: " + dir.at("text") + " is not a package file\n");
}

// A package whose names and texts carry control characters, as another tool could
// write it: the summary and the verdict escape them, the JSON carries them as they are.
TEST(PkgtoolInspect, ShowsControlCharactersFromTheFileEscaped) {
  ScratchRoot dir;
  PackageLayout layout;
  layout.meta.name = "a\nb\x1b\\";
  layout.meta.version = 0x01006600;
  layout.meta.architecture = "mi\x1bps";
  layout.meta.note = "one\ttwo\x7f";
  layout.meta.part24Text = "\r";
  layout.meta.dependencies = {{"d\x01", 0, 0, 0}};
  layout.files = {{"f\nx", 0100644, "d"}, {"link", 0120777, "t\x1b"}};
  writeFile(dir.at("odd.zpk"), buildPackageFile(layout));

  const std::string summary = pkgtool(dir, "inspect @odd.zpk").out;
  for (const std::string line :
       {R"(package a\nb\x1b\\-1.0)", R"(  architecture  mi\x1bps)",
        R"(  note          one\ttwo\x7f)", R"(  text 24       \x0d)",
        R"(  depends       d\x01 0.0 - any)", R"(  1  f\nx)", R"(  link -> t\x1b)"})
    EXPECT_NE(summary.find(line), std::string::npos) << line << "\n" << summary;
  for (const char c : summary)
    EXPECT_TRUE(c == '\n' || (c >= 0x20 && c != 0x7f)) << static_cast<int>(c) << summary;

  EXPECT_TRUE(pkgtool(dir, "verify --level 1 @odd.zpk", 1).out.starts_with(R"(a\nb\x1b\\-1.0: )"));
  EXPECT_EQ(inspectJson(dir, "odd.zpk")["packages"][0]["note"], "one\ttwo\x7f");
}

TEST(PkgtoolBundle, MembersFollowTheBundlesOwnPartsInOrderOrAreRefused) {
  ScratchRoot dir;
  dir.write("tree/bin/a", "aaa", 0755);
  dir.write("blob", "0123456789");
  pkgtool(dir, "build -o @first.zpk --name first --version 6.42.1 --build-time 10 @tree");
  pkgtool(dir, "build -o @second.zpk --name second --version 6.42 --payload @blob");
  pkgtool(dir,
          "bundle -o @b.zpk --name suite --version 6.42.1 --build-time 30 --note all "
          "--table second --table extra:1.0:2.0:5 @second.zpk @first.zpk");
  json doc = inspectJson(dir, "b.zpk");
  EXPECT_EQ(partTypes(doc), (std::vector<unsigned>{18, 23, 21, 20, 1, 21, 4, 9, 1, 4, 9}));
  expectFields(doc["bundle"], R"({"name":"suite","versionText":"6.42.1","buildTime":30,
    "note":"all","hasOpaquePayload":true,"payloadLength":0,
    "entryTable":[{"name":"second","minVersion":0,"maxVersion":0,"priority":0},
      {"name":"extra","minVersion":16803328,"maxVersion":33580544,"priority":5}]})"_json);
  expectFields(doc["packages"][1], R"({"name":"first","buildTime":10})"_json);
  // The members' parts are copied byte for byte, one after the other.
  const std::string members = dir.read("second.zpk").substr(8) + dir.read("first.zpk").substr(8);
  EXPECT_TRUE(dir.read("b.zpk").ends_with(members));
  // Without a table there is no type-20 part; the payload part is always there.
  pkgtool(dir, "bundle -o @inner.zpk --name inner --version 1.0 @first.zpk");
  EXPECT_EQ(partTypes(inspectJson(dir, "inner.zpk")), (std::vector<unsigned>{18, 21, 1, 4, 9}));

  const std::string first = readFile(dir.at("first.zpk"));
  writeFile(dir.at("cut.zpk"), first.substr(0, first.size() - 10));
  const std::pair<std::string, std::string> refused[] = {
      // member after second.zpk, complaint
      {"inner.zpk", " is a bundle; a bundle cannot be a member\n"},
      {"blob", " is not a package file\n"},
      {"cut.zpk", " is damaged: the last part runs past the end of the file\n"},
      {"first.zpk", " has the bundle's own name\n"}};
  const std::string bundle = "bundle -o @out.zpk --name first --version 1.0 @second.zpk @";
  for (const auto& [member, complaint] : refused) {
    EXPECT_EQ(pkgtool(dir, bundle + member, 2).err, "pkgtool: " + dir.at(member) + complaint);
    EXPECT_FALSE(dir.exists("out.zpk")) << member;
  }
}

}  // namespace
