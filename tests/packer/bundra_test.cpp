// Bundra end to end: the built program run in temporary folders.
#include <gtest/gtest.h>

#include "test_support.h"

namespace {

TEST(Bundra, WithoutArgumentWritesUsageAndCreatesNothing) {
  TempFolder tree;
  const RunResult run = RunBundra(tree.path(), {});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.output, BundraBanner() + "USAGE: BUNDRA <target>[.GOB]\r\n\r\n");
  EXPECT_FALSE(fs::exists(tree / "GOB"));
}

TEST(Bundra, EmptyTreeGivesTheSixteenByteArchive) {
  TempFolder tree;
  const RunResult run = RunBundra(tree.path(), {"empty"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.output, BundraBanner());
  EXPECT_EQ(ReadFile(tree / "GOB/EMPTY.GOB"), std::string("GOB \x14\0\0\0\x0C\0\0\0\0\0\0\0", 16));
}

TEST(Bundra, OneFileGivesThe157ByteArchive) {
  TempFolder tree;
  WriteFile(tree / "A.TXT", "hello");
  const RunResult run = RunBundra(tree.path(), {"one"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.output, BundraBanner() + "Adding A.TXT...\r\n");
  const std::string expected =
      ArchiveHeader(12) + Le32(1) + IndexEntryBytes({152, 5, "A.TXT"}) + "hello";
  EXPECT_EQ(expected.size(), 157u);
  EXPECT_EQ(ReadFile(tree / "GOB/ONE.GOB"), expected);
}

TEST(Bundra, OffsetsFollowTheSizesInListingOrder) {
  TempFolder tree;
  WriteFile(tree / "a", std::string(10, 'a'));
  WriteFile(tree / "b", "");
  WriteFile(tree / "c", std::string(5, 'c'));
  ASSERT_EQ(RunBundra(tree.path(), {"x"}).exitCode, 0);
  const std::string archive = ReadFile(tree / "GOB/X.GOB");
  EXPECT_EQ(archive.substr(16, 4), Le32(424));
  EXPECT_EQ(archive.substr(16 + 136, 4), Le32(434));
  EXPECT_EQ(archive.substr(16 + 272, 4), Le32(434));
  EXPECT_EQ(archive.size(), 424u + 15u);
}

TEST(Bundra, TargetNameForms) {
  const std::pair<std::string, std::string> cases[] = {
      {"data", "GOB/DATA.GOB"},
      {"data.gob", "GOB/DATA.GOB"},
      {"DATA.GOB", "GOB/DATA.GOB"},
      {"abc.def.gob", "GOB/ABC.GOB"},
      {".gob", "GOB/.GOB.GOB"},
      {HostName("\xE9t\xE9"), "GOB/" + HostName("\xE9T\xE9") + ".GOB"},
  };
  for (const auto& [argument, archive] : cases) {
    TempFolder tree;
    EXPECT_EQ(RunBundra(tree.path(), {argument}).exitCode, 0) << argument;
    EXPECT_TRUE(fs::is_regular_file(tree / archive)) << argument;
  }
}

TEST(Bundra, SkipsEveryFolderNamedGobButPacksOtherCases) {
  TempFolder tree;
  WriteFile(tree / "ART/GOB/hidden.txt", "no");
  WriteFile(tree / "gob/kept.txt", "yes");
  WriteFile(tree / "Gob/also.txt", "yes");
  WriteFile(tree / "GOB/OLD.GOB", "old archive");
  const RunResult run = RunBundra(tree.path(), {"x"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.output, BundraBanner() + "Adding Gob\\also.txt...\r\nAdding gob\\kept.txt...\r\n");
}

TEST(Bundra, ListingOrderIgnoresCaseThenRawBytes) {
  TempFolder tree;
  for (const char* name : {"_X", "B.TXT", "a.txt", "b.txt", "sub/z", "A.TXT"}) {
    WriteFile(tree / name, name);
  }
  const RunResult run = RunBundra(tree.path(), {"x"});
  EXPECT_EQ(run.output, BundraBanner() +
                            "Adding A.TXT...\r\nAdding a.txt...\r\nAdding B.TXT...\r\n"
                            "Adding b.txt...\r\nAdding sub\\z...\r\nAdding _X...\r\n");
}

TEST(Bundra, FailureReportComesLastWithExitCodeOne) {
  TempFolder tree;
  WriteFile(tree / "A.TXT", "x");
  // A target in a folder below GOB that nothing creates.
  const RunResult run = RunBundra(tree.path(), {"sub\\x"});
  EXPECT_EQ(run.exitCode, 1);
  const std::string prefix =
      BundraBanner() + "Exception EInOutError in module " + BundraModule() + " at ";
  ASSERT_EQ(run.output.substr(0, prefix.size()), prefix);
  EXPECT_EQ(run.output.substr(prefix.size() + 8), ".\nInvalid filename.\r\n");
}

}  // namespace
