// inspect and verify of the real tool on hostile files: in bounded time and memory,
// with damage and suspicious containers reported as such.

#include <sys/stat.h>

#include "hostile/hostile_support.h"
#include "pkgtool/package_builder.h"
#include "pkgtool/pkgtool_runner.h"

namespace {

// Runs pkgtool COMMAND [OPTION] FILE, FILE in dir, and expects status.
RunResult tool(const ScratchRoot& dir, std::vector<std::string> words, int status) {
  words.back() = dir.at(words.back());
  words.insert(words.begin(), PKGTOOL_BINARY);
  const RunResult run = bounded(words);
  EXPECT_EQ(run.status, status) << words[1] << "\n" << run.err;
  return run;
}

// 1 MiB of zlib data that inflates to 1 GiB of zeros: some 35 million all-zero entry
// headers, each an entry of no name and no data.
TEST(PkgtoolHostile, ContainerOfAGibibyteOfZerosIsSuspiciousAndNotListedWhole) {
  ScratchRoot dir;
  ZeroStream zeros;
  zeros.zeros(uint64_t{1} << 30);
  dir.write("bomb.zpk", signedWithContainer(zeros.finish(), "bomb"));

  const std::string summary = tool(dir, {"inspect", "bomb.zpk"}, 1).out;
  EXPECT_NE(summary.find("\n  files         100000 listed, more not read: suspicious\n"),
            std::string::npos);
  EXPECT_TRUE(summary.ends_with("damaged: the file container of bomb holds more than 100000 "
                                "entries\n"));
  const json doc = json::parse(tool(dir, {"inspect", "--json", "bomb.zpk"}, 1).out, nullptr, false);
  ASSERT_FALSE(doc.is_discarded());
  const json& package = doc["packages"][0];
  EXPECT_EQ(package["files"].size(), 100000u);
  expectFields(package, R"({"entriesSuspicious":true,"containerDamaged":false})"_json);
  expectFields(package["signature"], R"({"acceptedLevel1":true,"acceptedLevel2":true})"_json);
  EXPECT_EQ(tool(dir, {"verify", "bomb.zpk"}, 0).out,
            "bomb-6.42: accepted at level 1 (EdDSA valid, older scheme valid, SHA-1 digest)\n");
}

// A container whose zlib stream is damaged, is no zlib stream, or ends before its
// check value, is damaged, however many entries came out before.
TEST(PkgtoolHostile, DamagedContainersAreReportedAsDamaged) {
  const std::string whole = deflateBytes(encodeContainer({{"f", 0100644, "data"}}));
  std::string flipped = whole;
  flipped.back() ^= 1;
  const struct {
    std::string container;
    unsigned entries;
  } cases[] = {
      {flipped, 1},
      {whole.substr(0, whole.size() - 4), 1},
      {"no zlib stream at all", 0},
      {"", 0},
      {whole + "more", 1},
  };
  for (const auto& c : cases) {
    ScratchRoot dir;
    dir.write("p.zpk", signedWithContainer(c.container));
    const std::string summary = tool(dir, {"inspect", "p.zpk"}, 1).out;
    EXPECT_NE(summary.find("\n  files         " + std::to_string(c.entries) +
                           ", then the container is damaged\n"),
              std::string::npos)
        << summary;
    const json doc = json::parse(tool(dir, {"inspect", "--json", "p.zpk"}, 1).out, nullptr, false);
    expectFields(doc, {{"problems", {"the file container of p is damaged"}}});
    expectFields(doc["packages"][0], {{"containerDamaged", true}, {"entriesSuspicious", false}});
  }
}

// A FIFO is refused at once, not waited on for a writer.
TEST(PkgtoolHostile, FifoIsRefusedWithoutWaiting) {
  ScratchRoot dir;
  ASSERT_EQ(mkfifo(dir.at("pipe.zpk").c_str(), 0600), 0);
  for (const char* command : {"inspect", "verify", "sign"})
    EXPECT_EQ(tool(dir, {command, "pipe.zpk"}, 2).err,
              "pkgtool: cannot read " + dir.at("pipe.zpk") + ": Invalid argument\n");
  unlink(dir.at("pipe.zpk").c_str());
}

}  // namespace
