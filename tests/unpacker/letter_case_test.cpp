// Names written in another letter case meet the files and folders that are
// there, as they would on a file system that ignores case.
#include <gtest/gtest.h>

#include <algorithm>

#include "test_support.h"
#include "unpacker_support.h"

namespace {

using Files = std::vector<std::pair<std::string, std::string>>;

// The exact name wins; among other case variants, the first one listed.
TEST(LetterCase, WhichArchiveIsRead) {
  struct Case {
    std::vector<std::string> onDisk;
    std::string read;
  };
  const Case cases[] = {
      {{"data.gob", "DATA.GOB", "Data.GOB"}, "DATA.GOB"},
      {{"data.gob", "Data.GOB"}, "Data.GOB"},
      {{"dATA.gob"}, "dATA.gob"},
  };
  for (const Case& c : cases) {
    TempFolder folder;
    for (const std::string& name : c.onDisk) {
      WriteFile(folder / name, BuildArchive({{"WHICH.TXT", name}}));
    }
    const RunResult run = RunSpillet(folder.path(), {"data"});
    EXPECT_EQ(run.exitCode, 0) << c.read;
    EXPECT_EQ(ReadFile(folder / "WHICH.TXT"), c.read);
  }
}

TEST(LetterCase, ArchiveThroughFoldersOfAnotherCase) {
  TempFolder root;
  WriteFile(root / "mods/Sub/LEVEL.GOB", BuildArchive({{"A.TXT", "a"}}));
  fs::create_directory(root / "work");
  const RunResult run = RunSpillet(root / "work", {"../Mods/SUB/level.gob"});
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(ReadFile(root / "work/A.TXT"), "a");
}

// Entries meet folders and files of any case, made by earlier entries or
// there before; what is on disk keeps its name. Lines show names as stored.
TEST(LetterCase, EntriesShareFoldersAndFiles) {
  struct Case {
    const char* what;
    Files before;
    Files entries;
    Files after;  // the archive "T.GOB" aside
  };
  const Case cases[] = {
      {"folders made by earlier entries",
       {},
       {{"3DO\\A.3DO", "a"}, {"3do\\B.3DO", "b"}, {"3Do\\sub\\C.3DO", "c"}, {"3DO\\SUB\\D", "d"}},
       {{"3DO/A.3DO", "a"}, {"3DO/B.3DO", "b"}, {"3DO/sub/C.3DO", "c"}, {"3DO/sub/D", "d"}}},
      {"files and folders there before",
       {{"3do/ky.3do", "old ky"}, {"Readme.txt", "old readme"}},
       {{"3DO\\KY.3DO", "new"}, {"3DO\\A.3DO", "a"}, {"README.TXT", "r"}},
       {{"3do/A.3DO", "a"}, {"3do/ky.3do", "new"}, {"Readme.txt", "r"}}},
      {"a \".\" part names the same folder",
       {},
       {{"A\\y", "y"}, {"A\\.\\x.txt", "1"}, {"A\\X.TXT", "2"}},
       {{"A/x.txt", "2"}, {"A/y", "y"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempFolder folder;
    for (const auto& [path, contents] : c.before) WriteFile(folder / path, contents);
    const std::string archive = BuildArchive(c.entries);
    WriteFile(folder / "T.GOB", archive);
    std::string lines =
        Lines({"Number of files in archive: " + std::to_string(c.entries.size()), ""});
    for (const auto& [name, data] : c.entries) {
      lines += Lines({"Splitting into " + name + " - " + std::to_string(data.size()) + " bytes"});
    }
    const RunResult run = RunSpillet(folder.path(), {"t"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, SpilletBanner() + lines);
    Files expected = c.after;
    expected.emplace_back("T.GOB", archive);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(TreeContents(folder.path()), expected);
  }
}

}  // namespace
