#include "changes/manifest.h"

#include <gtest/gtest.h>

#include "changes/change_set.h"
#include "changes/change_text.h"
#include "support/scratch_root.h"

namespace {

class Manifest : public ::testing::Test {
 protected:
  std::string write(const ChangeSet& changes) {
    writeManifest(changes, file);
    return readFile(file);
  }
  bool read(const std::string& content, ChangeSet& changes) {
    writeFile(file, content);
    return readManifest(changes, file);
  }
  ScratchRoot root;
  const std::string file = root.at("ram/MANIFEST");
};

TEST_F(Manifest, WritesOneLinePerChangeInKeyOrder) {
  ChangeSet changes;
  changes.putSymlink("/c", "/flash/t");
  changes.put("/b", Delete, "");
  changes.put("/a", MoveTemp, "/ram/tmp1");
  changes.putMove("/d", "/ram/tmp2");
  EXPECT_EQ(write(changes), "M /a /ram/tmp1\nU /b\nL /c /flash/t\nM /d /ram/tmp2\n");
}

TEST_F(Manifest, EscapedFieldsRoundTrip) {
  ChangeSet changes;
  changes.putMove("/flash/a b", "/ram/x\\y");
  changes.putSymlink("/flash/tab\there", "new\nline");
  changes.put("/flash/\\040 literal", Delete, "");
  EXPECT_EQ(write(changes),
            "U /flash/\\134040\\040literal\n"
            "M /flash/a\\040b /ram/x\\134y\n"
            "L /flash/tab\\011here new\\012line\n");
  ChangeSet back;
  EXPECT_TRUE(readManifest(back, file));
  EXPECT_EQ(changeText(back), changeText(changes));
}

TEST_F(Manifest, MissingFileIsAFailure) {
  ChangeSet changes;
  EXPECT_FALSE(readManifest(changes, root.at("ram/none")));
}

struct Reading {
  const char* name;
  const char* content;
  bool result;
  const char* changes;  // as changeText shows them
};

class ManifestReading : public Manifest, public ::testing::WithParamInterface<Reading> {};

TEST_P(ManifestReading, ReadsUpToTheFirstEmptyOrMalformedLine) {
  ChangeSet changes;
  EXPECT_EQ(read(GetParam().content, changes), GetParam().result);
  EXPECT_EQ(changeText(changes), GetParam().changes);
}

INSTANTIATE_TEST_SUITE_P(
    Manifest, ManifestReading,
    ::testing::Values(
        Reading{"EmptyLineEnds", "U /a\n\nU /b\n", true, "U /a\n"},
        Reading{"EmptyFile", "", true, ""},
        Reading{"LastLineWithoutLineFeed", "U /a\nL /b t", true, "U /a\nL /b t\n"},
        Reading{"SourceKeepsItsBlanks", "M /a /ram/b c\n", true, "M /a /ram/b c\n"},
        Reading{"OnlyTheFourEscapesDecode", "M /a\\x\\04 /b\\0401\\\n", true,
                "M /a\\x\\04 /b 1\\\n"},
        Reading{"LaterLineReplaces", "U /a\nM /a /s\n", true, "M /a /s\n"},
        Reading{"UnknownKindIgnored", "X /a /b\nD /c\nU /d\n", true, "U /d\n"},
        Reading{"MoveWithoutSource", "U /a\nM /b\nU /c\n", false, "U /a\n"},
        Reading{"LinkWithoutTarget", "L /b\n", false, ""},
        Reading{"KindAlone", "U /a\nU\n", false, "U /a\n"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
