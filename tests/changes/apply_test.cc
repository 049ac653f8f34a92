#include "changes/apply.h"

#include <sys/stat.h>
#include <sys/times.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "changes/change_set.h"
#include "changes/change_text.h"
#include "changes/manifest.h"
#include "support/console_capture.h"
#include "support/scratch_root.h"

namespace fs = std::filesystem;

namespace {

// Applies the set of a manifest text inside root; returns what went to standard error.
std::string applyInRoot(const ScratchRoot& root, const std::string& manifest) {
  root.write("ram/MANIFEST", manifest);
  testing::internal::CaptureStderr();
  EXPECT_TRUE(inRoot(root, [] {
    umask(022);
    ChangeSet changes;
    ASSERT_EQ(readManifest(changes, "/ram/MANIFEST"), ManifestRead::Whole);
    apply(changes, false);
  }));
  return testing::internal::GetCapturedStderr();
}

TEST(Apply, DeletionsAndLinksComeBeforeEveryMove) {
  ScratchRoot root;
  for (const char* file : {"flash/d/old", "flash/e/.hidden", "flash/e/file", "flash/e/sub/inner",
                           "flash/bin/tool", "flash/prepared"})
    root.write(file, file);
  // "/flash/d" is emptied, then refilled; a dot file keeps "/flash/e"; "/flash/a" sorts
  // before its source, which only the link phase creates.
  EXPECT_EQ(applyInRoot(root, "U /flash/d\nM /flash/d/new /flash/prepared\nU /flash/e\n"
                              "L /flash/bin/tool /flash/lib/tool\nL /flash/new/dir/link target\n"
                              "M /flash/a /flash/b\nL /flash/b moved\nM /flash/x /ram/missing\n"),
            "rename: No such file or directory\n");
  EXPECT_EQ(root.read("flash/d/new"), "flash/prepared");
  for (const char* gone : {"flash/d/old", "flash/prepared", "flash/e/file", "flash/b", "flash/x"})
    EXPECT_FALSE(root.exists(gone)) << gone;
  EXPECT_TRUE(root.exists("flash/e/.hidden") && root.exists("flash/e/sub/inner"));
  for (const auto& [link, target] : {std::pair{"flash/bin/tool", "/flash/lib/tool"},
                                     {"flash/new/dir/link", "target"}, {"flash/a", "moved"}})
    EXPECT_EQ(fs::read_symlink(root.at(link)), target) << link;
}

TEST(Apply, MoveAcrossFileSystemsIsCopiedWholeOrNotAtAll) {
  ScratchRoot root;
  if (!root.mountTmpfs("flash", 128 << 10)) GTEST_SKIP() << "cannot mount a tmpfs here";
  const std::string content(40000, 'n');
  root.write("ram/prepared", content, 0757);
  root.write("ram/big", std::string(200000, 'b'));
  for (const char* file : {"flash/x/file", "flash/full"}) root.write(file, "old");
  EXPECT_EQ(applyInRoot(root, "M /flash/full /ram/big\nM /flash/x/file /ram/prepared\n"),
            "copy: No space left on device\n");
  EXPECT_EQ(root.read("flash/full") + root.read("flash/x/file"), "old" + content);
  EXPECT_TRUE(root.exists("ram/prepared") && root.exists("ram/big"));
  // The source's bits less the umask.
  EXPECT_EQ(fs::status(root.at("flash/x/file")).permissions(), fs::perms(0755));
  // Nothing else, no temporary file in particular.
  EXPECT_EQ(std::distance(fs::recursive_directory_iterator(root.at("flash")), {}), 3);
}

TEST(CopyFile, SpinnerTurnsOncePerChunkWhenATurnIsDue) {
  ScratchRoot root;
  root.write("ram/source", std::string(40000, 's'));  // three chunks
  // The first turn sets the mark 30000 ahead, so the next chunks come within 20 ticks;
  // with the mark 1000 ticks behind every chunk's turn is due.
  const uint32_t behind = static_cast<uint32_t>(times(nullptr)) + 30000 - 1000;
  for (const auto& [mark, index, output] : {std::tuple{0u, 0u, "|"}, {behind, 2u, "\b-\b\\\b|"}}) {
    spinnerMark = mark;
    spinnerIndex = index;
    ConsoleCapture console;
    EXPECT_TRUE(copyFile(root.at("ram/source"), root.at("flash/copy"), true));
    EXPECT_EQ(console.text(), output);
    EXPECT_EQ(spinnerIndex, 1u);
  }
  spinnerMark = spinnerIndex = 0;
}

TEST(Manifest, EscapedRoundTripAndReadingUpToAnEmptyOrMalformedLine) {
  ScratchRoot root;
  const std::string file = root.at("ram/MANIFEST");
  ChangeSet changes;
  changes.put("/flash/a b", ChangeOp::MoveTemp, "/ram/x\\y");
  changes.putSymlink("/flash/tab\there", "new\nline");
  changes.put("/flash/\\040 literal", ChangeOp::Delete, "");
  ASSERT_TRUE(writeManifest(changes, file));
  EXPECT_EQ(readFile(file), "U /flash/\\134040\\040literal\nM /flash/a\\040b /ram/x\\134y\n"
                            "L /flash/tab\\011here new\\012line\n");
  ChangeSet back;
  EXPECT_EQ(readManifest(back, file), ManifestRead::Whole);
  EXPECT_EQ(changeText(back),
            "U /flash/\\040 literal\nM /flash/a b /ram/x\\y\nL /flash/tab\there new\nline\n");
  EXPECT_EQ(readManifest(back, root.at("ram/none")), ManifestRead::Missing);
  constexpr ManifestRead kWhole = ManifestRead::Whole, kDamaged = ManifestRead::Damaged;
  const std::tuple<std::string, ManifestRead, const char*> readings[] = {
      {"U /a\n\nU /b\n", kWhole, "U /a\n"}, {"U /a\nL /b t", kWhole, "U /a\nL /b t\n"},
      {"M /a /ram/b c\n", kWhole, "M /a /ram/b c\n"},  // the source keeps its blanks
      {"M /a\\x\\04 /b\\0401\\\n", kWhole, "M /a\\x\\04 /b 1\\\n"},  // only four escapes decode
      {"X /a /b\nD /c\nU /d\n", kWhole, "U /d\n"}, {"X /a", kWhole, ""},
      {"U /a\nM /b\nU /c\n", kDamaged, "U /a\n"}, {"U /a\nU\n", kDamaged, "U /a\n"},
      {"U /a\nX\nU /c\n", kDamaged, "U /a\n"},
      {std::string("U /a\nM /b /ram/\0x\n", 18), kDamaged, "U /a\n"}};
  for (const auto& [content, result, read] : readings) {
    writeFile(file, content);
    ChangeSet changes;
    EXPECT_EQ(readManifest(changes, file), result) << content;
    EXPECT_EQ(changeText(changes), read) << content;
  }
}

}  // namespace
