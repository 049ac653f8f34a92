#include "changes/change_set.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include "changes/change_text.h"
#include "support/scratch_root.h"

namespace {

bool existsAt(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// createFile for path; the temporary file it recorded, or "" when none.
std::string create(ChangeSet& changes, const std::string& path, uint32_t sizeHint = 0) {
  std::ofstream out;
  changes.createFile(out, path, sizeHint, 0);
  const Change* change = changes.find(path);
  return change != nullptr && change->op == MoveTemp && out.is_open() ? change->argument : "";
}

TEST(ChangeSet, SecondCreateSupersedesFirstTemporary) {
  ScratchRoot root;
  root.write("flash/a", "old");
  EXPECT_TRUE(inRoot(root, [] {
    ChangeSet changes;
    const std::string first = create(changes, "/flash/a");
    const std::string second = create(changes, "/flash/a");
    EXPECT_FALSE(existsAt(first));
    EXPECT_TRUE(existsAt(second));
    EXPECT_EQ(changeText(changes), "T /flash/a " + second + "\n");
    changes.remove("/flash/a");  // exists: the deletion supersedes the file too
    EXPECT_FALSE(existsAt(second));
    EXPECT_EQ(changeText(changes), "U /flash/a\n");
  }));
}

TEST(ChangeSet, RemoveOfMissingPathOnlyForgetsItsEntry) {
  ScratchRoot root;
  EXPECT_TRUE(inRoot(root, [] {
    ASSERT_EQ(symlink("/flash/nowhere", "/flash/dangling"), 0);
    ChangeSet changes;
    changes.remove("/flash/missing");
    const std::string temporary = create(changes, "/flash/dangling");
    changes.remove("/flash/dangling");
    EXPECT_TRUE(changes.isEmpty());
    EXPECT_TRUE(existsAt(temporary));
  }));
}

TEST(ChangeSet, DiscardDeletesOnlyTheSetsOwnTemporaries) {
  ScratchRoot root;
  root.write("flash/prepared", "x");
  EXPECT_TRUE(inRoot(root, [] {
    ChangeSet changes;
    changes.putMove("/flash/new", "/flash/prepared");
    changes.putSymlink("/flash/link", "/flash/prepared");
    changes.remove("/flash/prepared");
    const std::string temporary = create(changes, "/flash/made");
    changes.discard();
    EXPECT_TRUE(changes.isEmpty());
    EXPECT_FALSE(existsAt(temporary));
    EXPECT_TRUE(existsAt("/flash/prepared"));
  }));
}

// Where the temporary file for a target three levels below "/flash" goes, with
// "/flash" a tmpfs of the given size.
struct Placement {
  const char* name;
  unsigned long flashBytes;
  uint32_t sizeHint;
  const char* directory;
};

class TemporaryPlacement : public ::testing::TestWithParam<Placement> {};

TEST_P(TemporaryPlacement, GoesToNearestExistingAncestorWithRoom) {
  const Placement& placement = GetParam();
  ScratchRoot root;
  if (!root.mountTmpfs("flash", placement.flashBytes)) GTEST_SKIP() << "cannot mount a tmpfs here";
  EXPECT_TRUE(inRoot(root, [&] {
    ChangeSet changes;
    EXPECT_EQ(parentDirectory(create(changes, "/flash/a/b/c/file", placement.sizeHint)),
              placement.directory);
  }));
}

INSTANTIATE_TEST_SUITE_P(
    ChangeSet, TemporaryPlacement,
    ::testing::Values(Placement{"Room", 256 << 10, 100000, "/flash"},
                      Placement{"NoRoomForContentAnd64KiB", 256 << 10, 200000, "/ram"},
                      Placement{"NoSizeHint", 256 << 10, 0, "/ram"},
                      // Cut to 32 bits, this free space would be 1 MiB.
                      Placement{"MoreThan4GiBFree", (4ul << 30) + (1 << 20), 2 << 20, "/flash"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ChangeSet, WithoutRamAnUnsizedFileGoesToTmp) {
  ScratchRoot root;
  root.makeDirectory("tmp");
  rmdir(root.at("ram").c_str());
  EXPECT_TRUE(inRoot(root, [] {
    ChangeSet changes;
    EXPECT_EQ(parentDirectory(create(changes, "/flash/a")), "/tmp");
  }));
}

TEST(ChangeSet, FailedTemporaryGivesFailedStreamAndNoEntry) {
  ScratchRoot root;
  rmdir(root.at("ram").c_str());
  root.write("ram", "a file, so nothing can be created below it");
  EXPECT_TRUE(inRoot(root, [] {
    ChangeSet changes;
    for (int attempt = 0; attempt < 2; ++attempt) {
      std::ofstream out;
      changes.createFile(out, "/flash/a", 0, 0);
      EXPECT_FALSE(out.is_open());
      EXPECT_TRUE(out.fail());
    }
    EXPECT_TRUE(changes.isEmpty());
  }));
}

TEST(ChangeSet, ParentDirectoryExamples) {
  const std::pair<const char*, const char*> cases[] = {
      {"/flash/var/pdb/x/", "/flash/var/pdb"}, {"/flash", "/"}, {"name", "."},
      {"/", "."}, {"/flash/bin//", "/flash"}, {"a/b", "a"}};
  for (const auto& [path, parent] : cases) EXPECT_EQ(parentDirectory(path), parent) << path;
}

TEST(ChangeSet, MakeDirectoriesCreatesMissingParents) {
  ScratchRoot root;
  makeDirectories(root.at("flash/a/b/c/"));
  EXPECT_TRUE(root.exists("flash/a/b/c"));
  root.write("flash/file", "x");
  makeDirectories(root.at("flash/file/sub"));  // cannot be made; nothing reported
  EXPECT_FALSE(root.exists("flash/file/sub"));
}

}  // namespace
