// Links already in the folder that receives the files: spillet never writes
// through one that leads outside it.
#include <gtest/gtest.h>

#include "test_support.h"

namespace {

TEST(SpilletLinks, NeverWritesThroughALinkThatLeadsOutside) {
  TempFolder root;
  WriteFile(root / "outside/a", "must stay");
  WriteFile(root / "inside/kept.txt", "old");
  fs::create_directory(root / "here");
  fs::create_symlink("../outside/a", root / "here/A.TXT");
  fs::create_directory_symlink("../outside", root / "here/sub");
  fs::create_symlink("../outside/new", root / "here/broken");
  fs::create_directory_symlink("../inside", root / "here/in");
  fs::create_directory_symlink("../here", root / "here/self");
  // Links met after their folder was already written to in this run.
  fs::create_directory(root / "here/real");
  fs::create_symlink("../../outside/b", root / "here/real/later");
  fs::create_symlink("../../outside/c", root / "here/real/lower");
  struct Entry {
    std::string name;
    std::string data;
    bool written;
    bool throughFileLink;  // a link to a file, or a broken one
  };
  const Entry entries[] = {
      {"A.TXT", "x", false, true},           {"sub\\X", "x", false, false},
      {"sub\\deeper\\Y", "y", false, false}, {"broken", "z", false, true},
      {"self\\ok.txt", "ok", true, false},   {"in\\kept.txt", "new", false, false},
      {"real\\first", "1", true, false},     {"real\\later", "2", false, true},
      {"real\\LOWER", "3", false, true},     {"real\\after", "4", true, false},
  };
  std::vector<std::pair<std::string, std::string>> files;
  std::string lines;
  for (const Entry& entry : entries) {
    // Wine shows a Linux link to a file as a plain file and hides a broken
    // one; links to folders it shows as links, as Windows shows every link.
    if (TargetIsWindows() && entry.throughFileLink) continue;
    files.emplace_back(entry.name, entry.data);
    lines += entry.written ? "Splitting into " + entry.name + " - " +
                                 std::to_string(entry.data.size()) + " bytes\r\n"
                           : "Skipping " + entry.name + ": it leads outside the current folder\r\n";
  }
  WriteFile(root / "here/data.gob", BuildArchive(files));
  const RunResult run = RunSpillet(root / "here", {"data"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.output, SpilletBanner() + "Number of files in archive: " +
                            std::to_string(files.size()) + "\r\n\r\n" + lines);
  EXPECT_EQ(FolderNames(root / "outside"), std::vector<std::string>{"a"});
  EXPECT_EQ(ReadFile(root / "outside/a"), "must stay");
  EXPECT_EQ(ReadFile(root / "inside/kept.txt"), "old");
  EXPECT_EQ(ReadFile(root / "here/ok.txt"), "ok");
}

}  // namespace
