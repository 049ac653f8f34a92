#include "changes/change_set.h"

#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "changes/change_text.h"
#include "support/scratch_root.h"

namespace {

bool existsAt(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// createFile for path; the temporary file it recorded, or "" when it recorded none.
std::string create(ChangeSet& changes, const std::string& path, uint32_t sizeHint = 0) {
  std::ofstream out;
  changes.createFile(out, path, sizeHint, 0);
  const Change* change = changes.find(path);
  return change != nullptr && change->op == ChangeOp::MoveTemp && out.is_open() ? change->argument : "";
}

TEST(ChangeSet, EntriesOwnOnlyTheirTemporariesAndUseTmpWithoutRam) {
  ScratchRoot root;
  root.write("flash/a", "old");
  root.makeDirectory("tmp");
  EXPECT_TRUE(inRoot(root, [] {
    ASSERT_EQ(symlink("/flash/nowhere", "/flash/dangling"), 0);
    ChangeSet changes;
    const std::string first = create(changes, "/flash/a");
    const std::string second = create(changes, "/flash/a");
    EXPECT_FALSE(existsAt(first));
    EXPECT_EQ(changeText(changes), "T /flash/a " + second + "\n");
    changes.remove("/flash/a");  // exists: the deletion supersedes the file too
    EXPECT_FALSE(existsAt(second));
    const std::string forgotten = create(changes, "/flash/dangling");
    changes.remove("/flash/dangling");  // nothing there: the entry and its file go
    EXPECT_FALSE(existsAt(forgotten));
    EXPECT_EQ(changeText(changes), "U /flash/a\n");
    changes.putMove("/flash/new", "/flash/a");
    changes.putSymlink("/flash/link", "/flash/a");
    const std::string made = create(changes, "/flash/made");
    changes.discard();
    EXPECT_TRUE(changes.isEmpty() && !existsAt(made) && existsAt("/flash/a"));
    // Without "/ram" an unsized file goes to "/tmp"; a create that fails records nothing.
    std::error_code error;
    std::filesystem::remove_all("/ram", error);
    EXPECT_EQ(parentDirectory(create(changes, "/flash/b")), "/tmp");
    writeFile("/ram", "a plain file, so nothing can be created below it");
    std::ofstream out;
    changes.createFile(out, "/flash/c", 0, 0);
    EXPECT_TRUE(!out.is_open() && out.fail() && changes.find("/flash/c") == nullptr);
  }));
}

// A temporary file for a target three levels below "/flash", a tmpfs of the given size.
TEST(ChangeSet, TemporaryGoesToTheNearestExistingAncestorWithRoomElseToRam) {
  const std::tuple<uint64_t, uint32_t, const char*> cases[] = {
      {256 << 10, 100000, "/flash"}, {256 << 10, 200000, "/ram"}, {256 << 10, 0, "/ram"},
      {(uint64_t{4} << 30) + (1 << 20), 2 << 20, "/flash"}};  // 1 MiB free when cut to 32 bits
  for (const auto& [flashBytes, sizeHint, directory] : cases) {
    ScratchRoot root;
    if (!root.mountTmpfs("flash", flashBytes)) GTEST_SKIP() << "cannot mount a tmpfs here";
    EXPECT_TRUE(inRoot(root, [&] {
      ChangeSet changes;
      EXPECT_EQ(parentDirectory(create(changes, "/flash/a/b/c/file", sizeHint)), directory);
    })) << flashBytes << " " << sizeHint;
  }
}

// makeDirectories is covered by the links and moves of the apply tests.
TEST(ChangeSet, ParentDirectoryDropsTrailingSlashesFirst) {
  const std::pair<const char*, const char*> cases[] = {
      {"/flash/var/pdb/x/", "/flash/var/pdb"}, {"/flash/bin//", "/flash"}, {"/flash", "/"},
      {"name", "."}, {"/", "."}};
  for (const auto& [path, parent] : cases) EXPECT_EQ(parentDirectory(path), parent) << path;
}

}  // namespace
