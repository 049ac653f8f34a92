#include "changes/apply.h"

#include <sys/stat.h>
#include <sys/times.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "changes/change_set.h"
#include "support/console_capture.h"
#include "support/scratch_root.h"

namespace fs = std::filesystem;

namespace {

// Applies the set built by fill inside root; returns what went to standard error.
std::string applyInRoot(const ScratchRoot& root, const std::function<void(ChangeSet&)>& fill) {
  EXPECT_TRUE(inRoot(root, [&] {
    ASSERT_NE(freopen("/stderr", "w", stderr), nullptr);
    umask(022);
    ChangeSet changes;
    fill(changes);
    apply(changes, false);
    fflush(stderr);  // the child ends with _exit
  }));
  return root.read("stderr");
}

std::string linkTarget(const std::string& path) {
  std::error_code error;
  return fs::read_symlink(path, error).string();
}

int temporaryCount(const std::string& directory) {
  int count = 0;
  for (const auto& entry : fs::directory_iterator(directory))
    count += entry.path().filename().string().starts_with("tmp");
  return count;
}

TEST(Apply, DeletedDirectoryIsRefilledByMoves) {
  ScratchRoot root;
  root.write("flash/d/old", "old");
  root.write("flash/d/keep", "old");
  root.write("flash/prepared", "new");
  applyInRoot(root, [](ChangeSet& changes) {
    changes.putMove("/flash/d/keep", "/flash/prepared");
    changes.remove("/flash/d");
  });
  EXPECT_FALSE(root.exists("flash/d/old"));
  EXPECT_EQ(root.read("flash/d/keep"), "new");
  EXPECT_FALSE(root.exists("flash/prepared"));
}

TEST(Apply, DotFileKeepsADeletedDirectory) {
  ScratchRoot root;
  for (const char* file : {"flash/d/.hidden", "flash/d/file", "flash/d/sub/inner"})
    root.write(file, "x");
  EXPECT_EQ(applyInRoot(root, [](ChangeSet& changes) { changes.remove("/flash/d"); }), "");
  EXPECT_FALSE(root.exists("flash/d/file"));
  EXPECT_TRUE(root.exists("flash/d/.hidden"));
  EXPECT_TRUE(root.exists("flash/d/sub/inner"));
}

TEST(Apply, LinksAreMadeBeforeAnyMove) {
  ScratchRoot root;
  root.write("flash/bin/tool", "old file");
  applyInRoot(root, [](ChangeSet& changes) {
    changes.putSymlink("/flash/bin/tool", "/flash/lib/tool");
    changes.putSymlink("/flash/new/dir/link", "target");
    // Sorted before its source, which only the link phase creates.
    changes.putMove("/flash/a", "/flash/b");
    changes.putSymlink("/flash/b", "moved-link");
  });
  EXPECT_EQ(linkTarget(root.at("flash/bin/tool")), "/flash/lib/tool");
  EXPECT_EQ(linkTarget(root.at("flash/new/dir/link")), "target");
  EXPECT_EQ(linkTarget(root.at("flash/a")), "moved-link");
  EXPECT_FALSE(root.exists("flash/b"));
}

TEST(Apply, MoveAcrossFileSystemsIsCopied) {
  ScratchRoot root;
  if (!root.mountTmpfs("ram", 1 << 20)) GTEST_SKIP() << "cannot mount a tmpfs here";
  const std::string content(40000, 'n');
  root.write("ram/prepared", content, 0757);
  root.write("flash/x/file", "old");
  applyInRoot(root, [](ChangeSet& changes) {
    changes.putMove("/flash/x/file", "/ram/prepared");
    changes.putMove("/flash/y/new", "/ram/prepared");
  });
  EXPECT_EQ(root.read("flash/x/file"), content);
  EXPECT_EQ(root.read("flash/y/new"), content);
  EXPECT_TRUE(root.exists("ram/prepared"));
  struct stat info;
  ASSERT_EQ(stat(root.at("flash/x/file").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0755u);  // the source's bits less the umask
  EXPECT_EQ(temporaryCount(root.at("flash/x")), 0);
}

TEST(Apply, FailedCopyKeepsTheOldDestination) {
  ScratchRoot root;
  if (!root.mountTmpfs("flash", 64 << 10)) GTEST_SKIP() << "cannot mount a tmpfs here";
  root.write("flash/file", "old");
  root.write("ram/prepared", std::string(200000, 'n'));
  EXPECT_EQ(applyInRoot(root, [](ChangeSet& changes) {
              changes.putMove("/flash/file", "/ram/prepared");
            }),
            "copy: No space left on device\n");
  EXPECT_EQ(root.read("flash/file"), "old");
  EXPECT_EQ(temporaryCount(root.at("flash")), 0);
  EXPECT_TRUE(root.exists("ram/prepared"));
}

TEST(Apply, MissingSourcePrintsTheRenameLine) {
  ScratchRoot root;
  EXPECT_EQ(applyInRoot(root, [](ChangeSet& changes) {
              changes.putMove("/flash/x", "/ram/missing");
            }),
            "rename: No such file or directory\n");
  EXPECT_FALSE(root.exists("flash/x"));
}

// A three-chunk copy turns the spinner once per chunk when each turn is due.
TEST(CopyFile, SpinnerOutputIsByteExact) {
  ScratchRoot root;
  root.write("ram/source", std::string(40000, 's'));
  const auto copyWithSpinner = [&](uint32_t mark, uint32_t index) {
    spinnerMark = mark;
    spinnerIndex = index;
    ConsoleCapture console;
    EXPECT_TRUE(copyFile(root.at("ram/source"), root.at("flash/copy"), true));
    return console.text();
  };
  // The first turn sets the mark 30000 ahead: the next chunks come within 20 ticks.
  EXPECT_EQ(copyWithSpinner(0, 0), "|");
  EXPECT_EQ(spinnerIndex, 1u);
  EXPECT_EQ(copyWithSpinner(static_cast<uint32_t>(times(nullptr)) + 30000 - 1000, 2),
            "\b-\b\\\b|");
  EXPECT_EQ(spinnerIndex, 1u);
  spinnerMark = spinnerIndex = 0;
}

}  // namespace
