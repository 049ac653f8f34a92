#include "pkgfile/file_container.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include "changes/change_set.h"
#include "pkgfile/package_reader.h"
#include "pkgtool/package_builder.h"
#include "support/console_capture.h"
#include "support/scratch_root.h"

namespace {

const std::string kFailed = "failed\nERROR: installation of foo-1.0 failed: ";

// Package foo-1.0 and its change set. run() extracts a container part holding stream
// (inside a changed root), followed by a part as long as all before it, and tells "ok"
// or "failed", then each message printed. lengthWord replaces the file header's.
struct Extraction {
  explicit Extraction(bool disabled = false) : package("foo") {
    package.version = 0x01006600;
    package.disabled = disabled;
  }
  std::string run(const std::string& stream, uint32_t lengthWord = 0) {
    PartWriter writer;
    writer.part(FileContainerPart, stream);
    writer.part(SignaturePart, std::string(8 + stream.size(), 's'));
    std::string file = writer.file(kPackageMagic);
    if (lengthWord != 0) writeLe32(reinterpret_cast<uint8_t*>(file.data()) + 4, lengthWord);
    std::istringstream in(file);
    PackageReader reader(in, true);
    reader.wantPart(FileContainerPart);
    reader.nextPart();
    ConsoleCapture console;
    Repository& repository = freshRepository();
    std::string result = extractFiles(package, changes, reader) ? "ok" : "failed";
    for (const std::string& message : repository.messageLog) result += "\n" + message;
    return result;
  }
  InstalledPackage package;
  ChangeSet changes;
};

std::string pattern(size_t size) {
  std::string data;
  for (size_t i = 0; i < size; ++i) data += static_cast<char>((i * 7919) >> 5);
  return data;
}

TEST(ExtractFiles, RegularFilesGoUnderFlashOrTheDisabledTree) {
  const std::string big = pattern(50000);
  const std::string stream = deflateBytes(encodeContainer(
      {{"bin/tool", 0100755, "tool"}, {"/etc/conf", 0100644, "c"}, {"bin/..x", 0100644, "dots"},
       {"bin", 040755, ""}, {"bin/sh", 0120777, "busybox"}, {"skipped", 0100644, "zzz", 1},
       {"empty", 0100600, ""}, {"big", 0100751, big}}));
  const std::tuple<std::string, unsigned, std::string> expected[] = {
      {"big", 0751, big}, {"bin/..x", 0644, "dots"}, {"bin/tool", 0755, "tool"},
      {"empty", 0600, ""}, {"etc/conf", 0644, "c"}};
  ScratchRoot root;
  for (const bool disabled : {false, true}) {
    EXPECT_TRUE(inRoot(root, [&] {
      const std::string base = disabled ? "/flash/x/foo/" : "/flash/";
      Extraction x(disabled);
      EXPECT_EQ(x.run(deflateBytes(encodeContainer({}))) + x.run(stream), "okok");
      EXPECT_EQ(x.changes.entries().size(), 5u);
      EXPECT_EQ(x.package.files.size(), 5u);
      for (const auto& [name, mode, data] : expected) {
        const Change* change = x.changes.find(base + name);
        ASSERT_TRUE(change != nullptr && x.package.files.count(base + name)) << name;
        EXPECT_EQ(readFile(change->argument), data);
        struct stat info;
        ASSERT_EQ(stat(change->argument.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, mode) << name;
      }
    }));
  }
}

TEST(ExtractFiles, BrokenContainersAndClimbingNamesAreRefused) {
  const std::string container = encodeContainer({{"big", 0100644, pattern(60000)}});
  std::string corrupt = deflateBytes(container);
  const std::string truncated = corrupt.substr(0, corrupt.size() / 2);
  corrupt[corrupt.size() / 2] ^= 0x55;
  const std::string streams[] = {
      truncated, corrupt,
      deflateBytes(container.substr(0, 31)),  // name cut short
      deflateBytes(encodeContainer({{"../etc/passwd", 0100644, ""}})),
      deflateBytes(encodeContainer({{"bin/../../x", 0100644, ""}})),
      deflateBytes(encodeContainer({{"/..", 040755, ""}})),
  };
  ScratchRoot root;
  EXPECT_TRUE(inRoot(root, [&] {
    for (const std::string& stream : streams)
      EXPECT_EQ(Extraction().run(stream), kFailed + "broken package");
    Extraction x(true);  // a disabled package whose name leads out of its own tree
    x.package.name = "..";
    EXPECT_EQ(x.run(deflateBytes(encodeContainer({{"bin/x", 0100644, ""}}))),
              "failed\nERROR: installation of ..-1.0 failed: broken package");
  }));
}

TEST(ExtractFiles, CreateFailuresAreReportedByCause) {
  for (const bool withRam : {true, false}) {
    ScratchRoot root;
    // Neither the full flash nor the small (or missing) /ram can hold the file.
    if (!root.mountTmpfs("flash", 64 * 1024) || (withRam && !root.mountTmpfs("ram", 32 * 1024)))
      GTEST_SKIP() << "mounting a tmpfs is not allowed here";
    if (!withRam) rmdir(root.at("ram").c_str());
    EXPECT_TRUE(inRoot(root, [&] {
      const std::string big = deflateBytes(encodeContainer({{"big", 0100644, pattern(100000)}}));
      EXPECT_EQ(Extraction().run(big),
                kFailed + (withRam ? "disk is too small"
                                   : "could not create big: No such file or directory"));
    }));
  }
}

// The bar after the one file: half of the file read. A length word of 20 understates
// the length; one of 0xFFFFFFF8 wraps the declared size to 0.
TEST(ProgressBar, LabelAndFillKeepTheLineWidth) {
  const std::tuple<bool, std::string, uint32_t, std::string, size_t> cases[] = {
      {false, "", 0, "installing foo-1.0 [", 28},
      {true, "", 0, "installing  (disabled) foo-1.0 [", 22},
      {true, "core", 0, "installing core-6.42.3 [", 26},
      {false, "", 20, "installing foo-1.0 [", 56},
      {false, "", 0xFFFFFFF8, "installing foo-1.0 [", 0},
  };
  ScratchRoot root;
  EXPECT_TRUE(inRoot(root, [&] {
    for (const auto& [disabled, bundle, lengthWord, label, filled] : cases) {
      Extraction x(disabled);
      x.package.bundle = {bundle, 0x062A6603, 0x062A6603, 0};
      x.run(deflateBytes(encodeContainer({{"bin/x", 0100644, "x"}})), lengthWord);
      EXPECT_EQ(Repository::instance().statusLine,
                label + std::string(filled, '#') + std::string(76 - label.size() - filled, ' ') +
                    "]");
    }
  }));
}

}  // namespace
