// keygen, sign, build --sign, bundle --sign, verify and the signature report of
// inspect, through the real tool.

#include <gtest/gtest.h>

#include "pkgtool/pkgtool_runner.h"

namespace {

using nlohmann::json;

// Builds an unsigned package of one file at dir/name.zpk.
void buildPackage(const ScratchRoot& dir, const std::string& name, const std::string& version,
                  const std::vector<std::string>& extra = {}) {
  dir.write("tree/data", std::string(3000, 'd'));
  std::vector<std::string> args = {"build",     "-o",    dir.at(name + ".zpk"),
                                   "--name",    name,    "--version",
                                   version,     dir.at("tree")};
  args.insert(args.end(), extra.begin(), extra.end());
  const RunResult result = runPkgtool(args);
  ASSERT_EQ(result.status, 0) << result.err;
}

int verify(const std::string& file, const std::vector<std::string>& options = {}) {
  std::vector<std::string> args = {"verify"};
  args.insert(args.end(), options.begin(), options.end());
  args.push_back(file);
  return runPkgtool(args).status;
}

TEST(PkgtoolSigning, SignedPackagesVerifyAtTheLevelsTheirFormsAllow) {
  ScratchRoot dir;
  buildPackage(dir, "pkg", "6.42.3");
  const std::string file = dir.at("pkg.zpk");
  EXPECT_EQ(verify(file, {"--level", "1"}), 1);  // zero-byte signature part

  ASSERT_EQ(runPkgtool({"sign", "--legacy-only", file}).status, 0);
  EXPECT_EQ(verify(file, {"--level", "1"}), 0);
  EXPECT_EQ(verify(file, {"--level", "2"}), 1);
  json doc = inspectJson(file);
  ASSERT_FALSE(doc.is_discarded());
  EXPECT_EQ(doc["packages"][0]["signatureLength"], 68u);
  EXPECT_EQ(doc["packages"][0]["signature"]["legacy"]["valid"], true);
  EXPECT_EQ(doc["packages"][0]["signature"]["eddsa"]["present"], false);

  ASSERT_EQ(runPkgtool({"sign", file}).status, 0);
  EXPECT_EQ(verify(file, {"--level", "2"}), 0);
  doc = inspectJson(file);
  ASSERT_FALSE(doc.is_discarded());
  EXPECT_EQ(doc["packages"][0]["signatureLength"], 132u);
  EXPECT_EQ(doc["packages"][0]["signature"]["eddsa"]["valid"], true);
  EXPECT_EQ(doc["packages"][0]["signature"]["legacy"]["valid"], true);
  EXPECT_EQ(doc["packages"][0]["signature"]["digest"], "sha1");
}

TEST(PkgtoolSigning, TamperedPackageIsRejected) {
  ScratchRoot dir;
  buildPackage(dir, "pkg", "6.42.3", {"--sign"});
  std::string bytes = readFile(dir.at("pkg.zpk"));
  ASSERT_EQ(verify(dir.at("pkg.zpk")), 0);
  const json doc = inspectJson(dir.at("pkg.zpk"));
  ASSERT_FALSE(doc.is_discarded());
  // Flip a byte in the middle of the file container.
  for (const json& part : doc["parts"]) {
    if (part["type"] != 4) continue;
    const size_t middle = part["offset"].get<size_t>() + 6 + part["length"].get<size_t>() / 2;
    bytes[middle] ^= 0x01;
  }
  writeFile(dir.at("bad.zpk"), bytes);
  const RunResult result = runPkgtool({"verify", dir.at("bad.zpk")});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.out.find("pkg-6.42.3: rejected"), std::string::npos) << result.out;
}

TEST(PkgtoolSigning, DefaultLevelIsTheOneTheInstallerAsksForTheVersion) {
  ScratchRoot dir;
  buildPackage(dir, "old", "6.46.8", {"--sign", "--legacy-only"});
  buildPackage(dir, "new", "6.46.9", {"--sign", "--legacy-only"});
  buildPackage(dir, "branding", "7.5", {"--sign", "--legacy-only"});
  EXPECT_EQ(verify(dir.at("old.zpk")), 0);
  EXPECT_EQ(verify(dir.at("new.zpk")), 1);
  EXPECT_EQ(verify(dir.at("branding.zpk")), 0);
  EXPECT_EQ(verify(dir.at("new.zpk"), {"--level", "1"}), 0);
}

TEST(PkgtoolSigning, Sha256DigestAddsADigestSwitchPart) {
  ScratchRoot dir;
  buildPackage(dir, "pkg", "7.2", {"--sign", "--sha256"});
  const json doc = inspectJson(dir.at("pkg.zpk"));
  ASSERT_FALSE(doc.is_discarded());
  EXPECT_EQ(doc["parts"][0]["type"], 25u);
  EXPECT_EQ(doc["packages"][0]["signature"]["digest"], "sha256");
  EXPECT_EQ(verify(dir.at("pkg.zpk"), {"--level", "2"}), 0);
}

TEST(PkgtoolSigning, SignedBundleVerifiesEveryMember) {
  ScratchRoot dir;
  buildPackage(dir, "one", "7.2");
  buildPackage(dir, "two", "7.2");
  ASSERT_EQ(runPkgtool({"bundle", "--sign", "-o", dir.at("b.zpk"), "--name", "suite",
                        "--version", "7.2", dir.at("one.zpk"), dir.at("two.zpk")})
                .status,
            0);
  const RunResult result = runPkgtool({"verify", "--level", "2", dir.at("b.zpk")});
  EXPECT_EQ(result.status, 0) << result.out << result.err;
  EXPECT_NE(result.out.find("one-7.2: accepted at level 2"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("two-7.2: accepted at level 2"), std::string::npos) << result.out;
}

TEST(PkgtoolSigning, BundleWarnsWhenAMembersSignatureStopsHolding) {
  ScratchRoot dir;
  buildPackage(dir, "first", "7.2", {"--sign", "--sha256"});
  buildPackage(dir, "second", "7.2", {"--sign"});
  // After the first member's digest switch the second one is digested with SHA-256.
  const RunResult made = runPkgtool({"bundle", "-o", dir.at("b.zpk"), "--name", "suite",
                                     "--version", "7.2", dir.at("first.zpk"),
                                     dir.at("second.zpk")});
  ASSERT_EQ(made.status, 0) << made.err;
  EXPECT_EQ(made.err, "pkgtool: warning: the signature of " + dir.at("second.zpk") +
                          " does not hold inside the bundle; use --sign\n");
  EXPECT_EQ(verify(dir.at("b.zpk"), {"--level", "1"}), 1);

  const RunResult resigned = runPkgtool({"bundle", "--sign", "-o", dir.at("b.zpk"), "--name",
                                         "suite", "--version", "7.2", dir.at("first.zpk"),
                                         dir.at("second.zpk")});
  ASSERT_EQ(resigned.status, 0) << resigned.err;
  EXPECT_TRUE(resigned.err.empty()) << resigned.err;
  EXPECT_EQ(verify(dir.at("b.zpk"), {"--level", "2"}), 0);
}

TEST(PkgtoolSigning, KeygenKeysSignForTheirOwnPublicKeysOnly) {
  ScratchRoot dir;
  const std::string keys = dir.at("vendor-keys");
  ASSERT_EQ(runPkgtool({"keygen", keys}).status, 0);
  for (const char* name : {"legacy.secret", "legacy.public", "eddsa.secret", "eddsa.public"}) {
    const std::string text = readFile(keys + "/" + name);
    EXPECT_EQ(text.size(), 65u) << name;
    EXPECT_EQ(text.find_first_not_of("0123456789abcdef"), 64u) << name;
  }
  const std::string secret = readFile(keys + "/eddsa.secret");

  // A second keygen into the same place refuses and changes nothing.
  const RunResult again = runPkgtool({"keygen", keys});
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find("not overwriting"), std::string::npos) << again.err;
  EXPECT_EQ(readFile(keys + "/eddsa.secret"), secret);

  buildPackage(dir, "pkg", "7.2", {"--sign", "--keys", keys});
  EXPECT_EQ(verify(dir.at("pkg.zpk"), {"--level", "1"}), 1);  // built-in keys
  EXPECT_EQ(verify(dir.at("pkg.zpk"), {"--level", "2", "--keys", keys}), 0);
}

TEST(PkgtoolSigning, UnreadableInputsExitTwo) {
  ScratchRoot dir;
  writeFile(dir.at("junk"), "junk junk junk");
  EXPECT_EQ(verify(dir.at("junk")), 2);
  EXPECT_EQ(verify(dir.at("missing")), 2);
  EXPECT_EQ(runPkgtool({"sign", dir.at("junk")}).status, 2);
  buildPackage(dir, "pkg", "7.2");
  EXPECT_EQ(runPkgtool({"sign", "--keys", dir.at("nowhere"), dir.at("pkg.zpk")}).status, 2);
  EXPECT_EQ(runPkgtool({"verify", "--keys", dir.at("nowhere"), dir.at("pkg.zpk")}).status, 2);
}

}  // namespace
