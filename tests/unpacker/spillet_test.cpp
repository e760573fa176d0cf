// Spillet's run: the banner, the usage forms, and how its argument becomes
// the archive's name and is found on disk.
#include <gtest/gtest.h>

#include "test_support.h"
#include "unpacker_support.h"

namespace {

const std::string Usage = "USAGE SPILLET <filename>[.GOB]\r\n";

std::string Missing(std::string_view shown) {
  return Lines(
      {"Error: The file " + std::string(shown) + " doesn't exist!", "       Program halted."});
}

TEST(Spillet, UsageForms) {
  const std::vector<std::vector<std::string>> forms = {{}, {"/?"}, {""}, {"/?", "data"}};
  for (const std::vector<std::string>& arguments : forms) {
    TempFolder folder;
    WriteFile(folder / "DATA.GOB", BuildArchive({}));
    const RunResult run = RunSpillet(folder.path(), arguments);
    EXPECT_EQ(run.exitCode, 1) << ::testing::PrintToString(arguments);
    EXPECT_EQ(run.output, SpilletBanner() + Usage) << ::testing::PrintToString(arguments);
  }
}

TEST(Spillet, ArgumentOver256CharactersIsRefused) {
  TempFolder folder;
  const RunResult run = RunSpillet(folder.path(), {std::string(257, 'a')});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.output, SpilletBanner() + Lines({"Error: Argument longer than 256 characters"}));
}

// The argument is upper-cased and gets ".GOB" only when it holds no dot at
// all, its folder part included; the file is then found ignoring case.
TEST(Spillet, ArchiveName) {
  struct Case {
    std::string argument;
    std::string onDisk;  // relative to the run's folder; "" for nothing
    bool isFolder;
    std::string missingAs;  // the name shown when the archive is not found
  };
  const Case cases[] = {
      {"DATA", "DATA.GOB", false, ""},
      {"data", "data.gob", false, ""},
      {"data", "Data.GOB", false, ""},
      {"data.gob", "DATA.GOB", false, ""},
      {"Level.Dat", "level.dat", false, ""},
      {"level.dat", "LEVEL.DAT.GOB", false, "LEVEL.DAT"},
      {"..\\data", "../data", false, ""},
      {"..\\data", "../DATA.GOB", false, "..\\DATA"},
      {"../Mods/level.gob", "../mods/LEVEL.GOB", false, ""},
      {"../Mods/level", "../mods/LEVEL.GOB", false, "../MODS/LEVEL"},
      {"games.old\\data", "Games.Old/data", false, ""},
      {"games.old\\data", "games.old/DATA.GOB", false, "GAMES.OLD\\DATA"},
      {"x", "", false, "X.GOB"},
      {"-h", "", false, "-H.GOB"},
      {"/?x", "", false, "/?X.GOB"},
      {"data", "DATA.GOB", true, "DATA.GOB"},
      {"data", "data.gob", true, "DATA.GOB"},
  };
  for (const Case& c : cases) {
    TempFolder root;
    const fs::path work = root / "work";
    fs::create_directory(work);
    if (c.isFolder) {
      fs::create_directories(work / c.onDisk);
    } else if (!c.onDisk.empty()) {
      WriteFile((work / c.onDisk).lexically_normal(), BuildArchive({}));
    }
    const RunResult run = RunSpillet(work, {c.argument});
    const bool found = c.missingAs.empty();
    EXPECT_EQ(run.exitCode, found ? 0 : 2) << c.argument << " with " << c.onDisk;
    EXPECT_EQ(run.output, SpilletBanner() + (found ? Lines({"Number of files in archive: 0", ""})
                                                   : Missing(c.missingAs)))
        << c.argument << " with " << c.onDisk;
  }
}

TEST(Spillet, SecondArgumentChangesNothing) {
  TempFolder folder;
  WriteFile(folder / "DATA.GOB", BuildArchive({{"A.TXT", "hello"}}));
  const RunResult run = RunSpillet(folder.path(), {"data", "extra"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.output, SpilletBanner() + Lines({"Number of files in archive: 1", "",
                                                 "Splitting into A.TXT - 5 bytes"}));
  EXPECT_EQ(ReadFile(folder / "A.TXT"), "hello");
  EXPECT_FALSE(fs::exists(folder / "EXTRA.GOB"));
}

// "*" and "?" make the existence test a pattern, but no file is opened by one.
TEST(Spillet, PatternMatchingAnArchiveIsNotOpened) {
  TempFolder folder;
  WriteFile(folder / "DATA.GOB", BuildArchive({{"A.TXT", "hello"}}));
  const RunResult run = RunSpillet(folder.path(), {"*"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(Masked(run.output), SpilletBanner() + Report("I/O error 123."));
  EXPECT_FALSE(fs::exists(folder / "A.TXT"));
}

// A line that cannot be written ends the run before anything is extracted.
TEST(Spillet, ClosedStandardOutputEndsTheRun) {
  TempFolder folder;
  WriteFile(folder / "DATA.GOB", BuildArchive({{"A.TXT", "hello"}}));
  const RunResult run = RunSpillet(folder.path(), {"data"}, Output::Closed);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_FALSE(fs::exists(folder / "A.TXT"));
}

}  // namespace
