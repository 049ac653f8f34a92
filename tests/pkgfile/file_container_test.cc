#include "pkgfile/file_container.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <sstream>

#include "changes/change_set.h"
#include "pkgfile/package_reader.h"
#include "pkgtool/package_builder.h"
#include "support/console_capture.h"
#include "support/scratch_root.h"

namespace {

using Messages = std::vector<std::string>;
const Messages kBroken = {"ERROR: installation of foo-1.0 failed: broken package"};

InstalledPackage foo(bool disabled = false) {
  InstalledPackage package("foo");
  package.version = 0x01006600;
  package.disabled = disabled;
  return package;
}

// Runs extractFiles over a container part holding exactly these bytes; the result
// goes to ok, the messages printed are returned. Call inside a changed root.
Messages extract(InstalledPackage& package, ChangeSet& changes, const std::string& stream,
                 bool& ok) {
  PartWriter writer;
  writer.part(PackageHeaderPart, encodeHeaderRecord(package, true));
  writer.part(FileContainerPart, stream);
  std::istringstream in(writer.file(kPackageMagic));
  PackageReader reader(in, true);
  reader.wantPart(FileContainerPart);
  EXPECT_EQ(reader.nextPart(), FileContainerPart);
  ConsoleCapture console;
  Repository& repository = freshRepository();
  ok = extractFiles(package, changes, reader);
  return repository.messageLog;
}

std::string pattern(size_t size) {
  std::string data(size, '\0');
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 7919) >> 5);
  return data;
}

// A zlib stream of data whose last stored block (from offset cut on) carries a length
// check word that does not match. Intact, it would deliver all of data.
std::string corruptStream(const std::string& data, size_t cut) {
  z_stream z{};
  deflateInit(&z, 9);
  std::string out(compressBound(cut) + 16, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(cut);
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_SYNC_FLUSH);
  out.resize(out.size() - z.avail_out);
  deflateEnd(&z);
  uint8_t header[5] = {1};  // final stored block
  writeLe16(header + 1, static_cast<uint16_t>(data.size() - cut));
  writeLe16(header + 3, static_cast<uint16_t>(data.size() - cut));  // should be inverted
  return out + std::string(reinterpret_cast<char*>(header), 5) + data.substr(cut);
}

TEST(ExtractFiles, TargetsLieUnderFlashOrTheDisabledTree) {
  ScratchRoot root;
  for (const bool disabled : {false, true}) {
    EXPECT_TRUE(inRoot(root, [&] {
      const std::string base = disabled ? "/flash/x/foo/" : "/flash/";
      InstalledPackage package = foo(disabled);
      ChangeSet changes;
      bool ok = false;
      EXPECT_TRUE(extract(package, changes,
                          deflateBytes(encodeContainer({{"bin/tool", 0100755, "tool"},
                                                        {"/etc/conf", 0100644, "c"},
                                                        {"bin/..x", 0100644, "dots"}})),
                          ok)
                      .empty());
      EXPECT_TRUE(ok);
      EXPECT_EQ(package.files,
                (std::set<std::string>{base + "bin/..x", base + "bin/tool", base + "etc/conf"}));
      EXPECT_EQ(changes.entries().size(), 3u);
      const Change* tool = changes.find(base + "bin/tool");
      ASSERT_NE(tool, nullptr);
      EXPECT_EQ(tool->op, MoveTemp);
      EXPECT_EQ(readFile(tool->argument), "tool");
      changes.discard();
    }));
  }
}

TEST(ExtractFiles, OnlyRegularFilesAreCreated) {
  ScratchRoot root;
  EXPECT_TRUE(inRoot(root, [&] {
    const std::string big = pattern(50000);
    InstalledPackage package = foo();
    ChangeSet changes;
    bool ok = false;
    extract(package, changes, deflateBytes(encodeContainer({})), ok);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(changes.isEmpty());

    EXPECT_TRUE(extract(package, changes,
                        deflateBytes(encodeContainer({{"bin", 040755, ""},
                                                      {"bin/sh", 0120777, "busybox"},
                                                      {"skipped", 0100644, "zzz", 1},
                                                      {"empty", 0100600, ""},
                                                      {"big", 0100751, big}})),
                        ok)
                    .empty());
    EXPECT_TRUE(ok);
    EXPECT_EQ(package.files, (std::set<std::string>{"/flash/big", "/flash/empty"}));
    ASSERT_EQ(changes.entries().size(), 2u);
    const std::string bigFile = changes.find("/flash/big")->argument;
    EXPECT_EQ(readFile(bigFile), big);
    struct stat info;
    ASSERT_EQ(stat(bigFile.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0751u);
    ASSERT_EQ(stat(changes.find("/flash/empty")->argument.c_str(), &info), 0);
    EXPECT_EQ(info.st_size, 0);
    changes.discard();
  }));
}

TEST(ExtractFiles, BrokenContainersAndClimbingNamesAreRefused) {
  const std::string container = encodeContainer({{"big", 0100644, pattern(60000)}});
  const std::string compressed = deflateBytes(container);
  const std::string streams[] = {
      compressed.substr(0, compressed.size() / 2),  // truncated
      corruptStream(container, 20000),
      deflateBytes(container.substr(0, 31)),  // name cut short
      deflateBytes(encodeContainer({{"../etc/passwd", 0100644, ""}})),
      deflateBytes(encodeContainer({{"bin/../../x", 0100644, ""}})),
      deflateBytes(encodeContainer({{"/..", 040755, ""}})),
  };
  ScratchRoot root;
  for (const std::string& stream : streams) {
    EXPECT_TRUE(inRoot(root, [&] {
      InstalledPackage package = foo();
      ChangeSet changes;
      bool ok = true;
      EXPECT_EQ(extract(package, changes, stream, ok), kBroken);
      EXPECT_FALSE(ok);
      changes.discard();
    }));
  }
  // A disabled package whose name would lead out of its own tree.
  EXPECT_TRUE(inRoot(root, [&] {
    InstalledPackage package = foo(true);
    package.name = "..";
    ChangeSet changes;
    bool ok = true;
    extract(package, changes, deflateBytes(encodeContainer({{"bin/x", 0100644, ""}})), ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(changes.isEmpty());
  }));
}

TEST(ExtractFiles, CreateFailuresAreReportedByCause) {
  const std::string prefix = "ERROR: installation of foo-1.0 failed: ";
  for (const bool withRam : {true, false}) {
    ScratchRoot root;
    // Neither the full flash nor the small (or missing) /ram can hold the file.
    if (!root.mountTmpfs("flash", 64 * 1024) || (withRam && !root.mountTmpfs("ram", 32 * 1024)))
      GTEST_SKIP() << "mounting a tmpfs is not allowed here";
    if (!withRam) rmdir(root.at("ram").c_str());
    EXPECT_TRUE(inRoot(root, [&] {
      InstalledPackage package = foo();
      ChangeSet changes;
      bool ok = true;
      EXPECT_EQ(extract(package, changes,
                        deflateBytes(encodeContainer({{"big", 0100644, pattern(100000)}})), ok),
                Messages{prefix + (withRam ? "disk is too small"
                                           : "could not create big: No such file or directory")});
      EXPECT_FALSE(ok);
      changes.discard();
    }));
  }
}

TEST(ProgressBar, LabelAndFillKeepTheLineWidth) {
  struct Case {
    bool disabled;
    bool fromBundle;
    uint32_t lengthWord;  // 0: the real one
    std::string label;
    int filled;  // -1: half the bar
  };
  const Case cases[] = {
      {false, false, 0, "installing foo-1.0 [", -1},
      {true, false, 0, "installing  (disabled) foo-1.0 [", -1},
      {true, true, 0, "installing routeros-6.42.3 [", -1},
      {false, false, 100, "installing foo-1.0 [", 56},        // header understates the length
      {false, false, 0xFFFFFFF8, "installing foo-1.0 [", 0},  // declared size wraps to 0
  };
  for (const Case& c : cases) {
    PartWriter writer;
    writer.part(FileContainerPart, std::string(1000, 'x'));
    std::string file = writer.file(kPackageMagic);  // 1014 bytes
    if (c.lengthWord != 0) writeLe32(reinterpret_cast<uint8_t*>(file.data()) + 4, c.lengthWord);
    std::istringstream in(file);
    PackageReader reader(in, false);
    reader.wantPart(FileContainerPart);
    reader.nextPart();
    char skipped[493];
    reader.read(skipped, sizeof skipped);  // now at offset 507, half of 1014

    InstalledPackage package = foo(c.disabled);
    if (c.fromBundle) package.bundle = {"routeros", 0x062A6603, 0x062A6603, 0};
    ConsoleCapture console;
    Repository& repository = freshRepository();
    progressBar(package, reader);
    const size_t width = 76 - c.label.size();
    const size_t filled = c.filled < 0 ? width / 2 : static_cast<size_t>(c.filled);
    EXPECT_EQ(repository.statusLine,
              c.label + std::string(filled, '#') + std::string(width - filled, ' ') + "]");
  }
}

}  // namespace
