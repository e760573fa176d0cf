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
      {"-h", "GOB/-H.GOB"},  // no switches: any first argument names the archive
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
      BundraBanner() + "Exception EInOutError in module " + ModuleFileName(BundraPath()) + " at ";
  ASSERT_EQ(run.output.substr(0, prefix.size()), prefix);
  EXPECT_EQ(run.output.substr(prefix.size() + 8), ".\nInvalid filename.\r\n");
}

TEST(Bundra, EmptyArgumentsCountAsNone) {
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{""}, std::vector<std::string>{"", ""}}) {
    TempFolder tree;
    const RunResult run = RunBundra(tree.path(), arguments);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.output, BundraBanner() + "USAGE: BUNDRA <target>[.GOB]\r\n\r\n");
    EXPECT_FALSE(fs::exists(tree / "GOB"));
  }
  TempFolder tree;
  EXPECT_EQ(RunBundra(tree.path(), {"", "data", "ignored"}).exitCode, 0);
  EXPECT_EQ(FolderNames(tree / "GOB"), std::vector<std::string>{"DATA.GOB"});
}

TEST(Bundra, ArgumentOf256CharactersIsTakenAndOneMoreIsRefused) {
  // The dot keeps the archive's name short, so only the argument's length matters.
  TempFolder tree;
  const std::string taken = "n." + std::string(254, 'x');
  // Arguments after the first are never looked at, however long.
  EXPECT_EQ(RunBundra(tree.path(), {taken, std::string(300, 'y')}).exitCode, 0);
  EXPECT_TRUE(fs::is_regular_file(tree / "GOB/N.GOB"));

  TempFolder other;
  const RunResult run = RunBundra(other.path(), {taken + "x"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.output, BundraBanner() + "Error: Argument longer than 256 characters\r\n");
  EXPECT_FALSE(fs::exists(other / "GOB"));
}

TEST(Bundra, BothSeparatorsInTheTargetLeadIntoFoldersBelowGob) {
  for (const char* argument : {"sub\\x", "sub/x", "Sub\\x.gob"}) {
    TempFolder tree;
    // A folder that differs only in case is the one meant.
    fs::create_directories(tree / "GOB/sub");
    const RunResult run = RunBundra(tree.path(), {argument});
    EXPECT_EQ(run.exitCode, 0) << argument << run.output;
    EXPECT_EQ(FolderNames(tree / "GOB/sub"), std::vector<std::string>{"X.GOB"}) << argument;
  }
}

TEST(Bundra, TargetThatCannotBeAFileNameFailsAfterTheScan) {
  TempFolder tree;
  WriteFile(tree / "A.TXT", "x");
  const RunResult run = RunBundra(tree.path(), {"what?"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(
      IsFailureReport(run.output, BundraBanner(), ModuleFileName(BundraPath()), "I/O error 123."));
  EXPECT_EQ(FolderNames(tree / "GOB"), std::vector<std::string>{});
}

TEST(Bundra, CopiesAtAndAroundTheBlockBoundary) {
  // Sizes around the 64000-byte transfer block, in listing order.
  const std::vector<std::pair<std::string, std::string>> files = {
      {"1.DAT", ""},
      {"2.DAT", PatternBytes(63999, 2)},
      {"3.DAT", PatternBytes(64000, 3)},
      {"4.DAT", PatternBytes(64001, 4)},
      {"5.DAT", PatternBytes(128000, 5)},
      {"6.DAT", PatternBytes(1, 6)},
  };
  TempFolder tree;
  std::string lines;
  for (const auto& [name, data] : files) {
    WriteFile(tree / name, data);
    lines += "Adding " + name + "...\r\n";
  }
  const RunResult run = RunBundra(tree.path(), {"blocks"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.output, BundraBanner() + lines);
  EXPECT_EQ(ReadFile(tree / "GOB/BLOCKS.GOB"), BuildArchive(files));
}

TEST(Bundra, PathOf128CharactersIsStoredWithoutTerminatingZero) {
  TempFolder tree;
  const std::string folder(100, 'd');
  const std::string file(27, 'f');
  const std::string stored = folder + "\\" + file;
  ASSERT_EQ(stored.size(), 128u);
  WriteFile(tree / folder / file, "data");
  const RunResult run = RunBundra(tree.path(), {"long"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.output, BundraBanner() + "Adding " + stored + "...\r\n");
  const std::string archive = ReadFile(tree / "GOB/LONG.GOB");
  // The name field's last byte is the path's last character; the data follow at once.
  EXPECT_EQ(archive, ArchiveHeader(12) + Le32(1) + Le32(152) + Le32(4) + stored + "data");
}

TEST(Bundra, PacksHiddenFilesAndFilesNamedGobButNoTraceOfEmptyFolders) {
  TempFolder tree;
  WriteFile(tree / ".hidden", "dot");
  WriteFile(tree / "ART/GOB", "a file, not the folder");
  WriteFile(tree / "ART/.cfg/x", "in a hidden folder");
  fs::create_directories(tree / "empty");
  fs::create_directories(tree / "ART/deep/er/still");
  const RunResult run = RunBundra(tree.path(), {"x"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(
      run.output,
      BundraBanner() + "Adding .hidden...\r\nAdding ART\\.cfg\\x...\r\nAdding ART\\GOB...\r\n");
  EXPECT_EQ(ReadFile(tree / "GOB/X.GOB"), BuildArchive({{".hidden", "dot"},
                                                        {"ART\\.cfg\\x", "in a hidden folder"},
                                                        {"ART\\GOB", "a file, not the folder"}}));
}

TEST(Bundra, RunningAgainReplacesTheArchiveWithoutPackingIt) {
  TempFolder tree;
  WriteFile(tree / "A.TXT", "first");
  WriteFile(tree / "B.TXT", std::string(300, 'b'));
  ASSERT_EQ(RunBundra(tree.path(), {"x"}).exitCode, 0);
  WriteFile(tree / "A.TXT", "second");
  fs::remove(tree / "B.TXT");
  const RunResult run = RunBundra(tree.path(), {"x.gob"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.output, BundraBanner() + "Adding A.TXT...\r\n");
  EXPECT_EQ(ReadFile(tree / "GOB/X.GOB"), BuildArchive({{"A.TXT", "second"}}));
  EXPECT_EQ(FolderNames(tree / "GOB"), std::vector<std::string>{"X.GOB"});
}

TEST(Bundra, FileNamedGobAtTheTopLeavesNoFolderForTheArchive) {
  TempFolder tree;
  WriteFile(tree / "GOB", "a file");
  const RunResult run = RunBundra(tree.path(), {"x"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(IsFailureReport(run.output, BundraBanner(), ModuleFileName(BundraPath()),
                              "Invalid filename."));
  EXPECT_EQ(ReadFile(tree / "GOB"), "a file");
  EXPECT_EQ(FolderNames(tree.path()), std::vector<std::string>{"GOB"});
}

}  // namespace
