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
  WriteFile(root / "here/data.gob", BuildArchive({{"A.TXT", "x"},
                                                  {"sub\\X", "x"},
                                                  {"sub\\deeper\\Y", "y"},
                                                  {"broken", "z"},
                                                  {"self\\ok.txt", "ok"},
                                                  {"in\\kept.txt", "new"}}));
  const RunResult run = RunSpillet(root / "here", {"data"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.output, SpilletBanner() +
                            "Number of files in archive: 6\r\n\r\n"
                            "Skipping A.TXT: it leads outside the current folder\r\n"
                            "Skipping sub\\X: it leads outside the current folder\r\n"
                            "Skipping sub\\deeper\\Y: it leads outside the current folder\r\n"
                            "Skipping broken: it leads outside the current folder\r\n"
                            "Splitting into self\\ok.txt - 2 bytes\r\n"
                            "Skipping in\\kept.txt: it leads outside the current folder\r\n");
  EXPECT_EQ(FolderNames(root / "outside"), std::vector<std::string>{"a"});
  EXPECT_EQ(ReadFile(root / "outside/a"), "must stay");
  EXPECT_EQ(ReadFile(root / "inside/kept.txt"), "old");
  EXPECT_EQ(ReadFile(root / "here/ok.txt"), "ok");
}

}  // namespace
