// keygen, sign, build --sign, bundle --sign, verify and the signature report of
// inspect, through the real tool.

#include <sys/stat.h>

#include "pkgtool/pkgtool_runner.h"

namespace {

// Builds dir/NAME.zpk of one file with the extra options.
void buildPackage(const ScratchRoot& dir, const std::string& name, const std::string& version,
                  const std::string& options = "") {
  dir.write("tree/data", std::string(3000, 'd'));
  pkgtool(dir, "build -o @" + name + ".zpk --name " + name + " --version " + version + " " +
                   options + " @tree");
}

TEST(PkgtoolSigning, SignedPackagesVerifyAtTheLevelsTheirFormsAllowOrTheVersionAsks) {
  ScratchRoot dir;
  buildPackage(dir, "p", "6.42");
  pkgtool(dir, "verify --level 1 @p.zpk", 1);  // zero-byte signature part
  pkgtool(dir, "sign --legacy-only @p.zpk");
  EXPECT_EQ(pkgtool(dir, "verify --level 2 @p.zpk", 1).out,
            "p-6.42: rejected at level 2 (no EdDSA signature, older scheme valid, SHA-1 digest)\n");
  expectFields(inspectJson(dir, "p.zpk")["packages"][0]["signature"], R"({"length":68,
    "legacy":{"present":true,"valid":true},"eddsa":{"present":false,"valid":false}})"_json);
  pkgtool(dir, "sign @p.zpk");
  EXPECT_EQ(pkgtool(dir, "verify --level 2 @p.zpk").out,
            "p-6.42: accepted at level 2 (EdDSA valid, older scheme valid, SHA-1 digest)\n");
  // Without --level, the level the installer asks for the version.
  for (const auto& [name, version, status] :
       {std::tuple{"old", "6.46.8", 0}, {"new", "6.46.9", 1}, {"branding", "7.5", 0}}) {
    buildPackage(dir, name, version, "--sign --legacy-only");
    pkgtool(dir, "verify @" + std::string(name) + ".zpk", status);
  }
}


TEST(PkgtoolSigning, BundleSignsEveryMemberOrWarnsWhenASignatureStopsHolding) {
  ScratchRoot dir;
  buildPackage(dir, "first", "7.2", "--sign --sha256");
  buildPackage(dir, "second", "7.2", "--sign");
  // After the first member's digest switch the second one is digested with SHA-256.
  const std::string bundle = "bundle -o @b.zpk --name suite --version 7.2 @first.zpk @second.zpk";
  EXPECT_EQ(pkgtool(dir, bundle).err, "pkgtool: warning: the signature of " + dir.at("second.zpk") +
                                          " does not hold inside the bundle; use --sign\n");
  pkgtool(dir, "verify --level 1 @b.zpk", 1);
  EXPECT_EQ(pkgtool(dir, bundle + " --sign").err, "");
  EXPECT_EQ(pkgtool(dir, "verify @b.zpk").out,
            "first-7.2: accepted at level 2 (EdDSA valid, older scheme valid, SHA-256 digest)\n"
            "second-7.2: accepted at level 2 (EdDSA valid, older scheme valid, SHA-256 digest)\n");
}

TEST(PkgtoolSigning, KeygenWritesANewSetOnceAndItSignsForItselfAndBadInputsExitTwo) {
  ScratchRoot dir;
  pkgtool(dir, "keygen @keys");
  for (std::string name : {"legacy.secret", "legacy.public", "eddsa.secret", "eddsa.public"}) {
    const std::string text = dir.read("keys/" + name);
    EXPECT_TRUE(text.size() == 65 && text.find_first_not_of("0123456789abcdef") == 64) << text;
    struct stat info;
    ASSERT_EQ(stat(dir.at("keys/" + name).c_str(), &info), 0);
    EXPECT_EQ((info.st_mode & 0777) == 0600, name.ends_with("secret")) << name;
  }
  // Any key file already there refuses the whole set.
  dir.write("other/eddsa.public", "keep");
  EXPECT_EQ(pkgtool(dir, "keygen @other", 1).err,
            "pkgtool: " + dir.at("other") + "/eddsa.public exists; not overwriting any key\n");
  EXPECT_FALSE(dir.exists("other/legacy.secret"));

  buildPackage(dir, "pkg", "7.2", "--sign --keys @keys");
  EXPECT_EQ(pkgtool(dir, "verify --keys @keys @pkg.zpk").out,
            "pkg-7.2: accepted at level 2 (EdDSA valid, older scheme valid, SHA-1 digest)\n");
  pkgtool(dir, "verify --level 1 @pkg.zpk", 1);  // the built-in keys
  // Unreadable files and keys.
  dir.write("junk", "junk junk junk");
  for (const char* args : {"verify @junk", "verify @missing", "sign @junk",
                           "sign --keys @junk @pkg.zpk", "verify --keys @junk @pkg.zpk"})
    pkgtool(dir, args, 2);
}

}  // namespace
