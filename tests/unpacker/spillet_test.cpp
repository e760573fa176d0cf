// Spillet end to end: the built program run in temporary folders.
#include <gtest/gtest.h>

#include "test_support.h"

namespace {

TEST(Spillet, UsageForms) {
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{}, std::vector<std::string>{"/?"}}) {
    TempFolder folder;
    const RunResult run = RunSpillet(folder.path(), arguments);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.output, SpilletBanner() + "USAGE SPILLET <filename>[.GOB]\r\n");
  }
}

TEST(Spillet, MissingArchive) {
  TempFolder folder;
  fs::create_directory(folder / "DATA.GOB");
  const std::pair<const char*, const char*> cases[] = {
      {"x", "X.GOB"}, {"-h", "-H.GOB"}, {"data", "DATA.GOB"}, {"level.dat", "LEVEL.DAT"}};
  for (const auto& [argument, shown] : cases) {
    const RunResult run = RunSpillet(folder.path(), {argument});
    EXPECT_EQ(run.exitCode, 2) << argument;
    EXPECT_EQ(run.output, SpilletBanner() + "Error: The file " + shown +
                              " doesn't exist!\r\n       Program halted.\r\n");
  }
}

TEST(Spillet, ExtractsTheOneFileArchive) {
  TempFolder folder;
  WriteFile(folder / "one.gob", BuildArchive({{"A.TXT", "hello"}}));
  const RunResult run = RunSpillet(folder.path(), {"one"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(
      run.output,
      SpilletBanner() + "Number of files in archive: 1\r\n\r\nSplitting into A.TXT - 5 bytes\r\n");
  EXPECT_EQ(ReadFile(folder / "A.TXT"), "hello");
}

TEST(RoundTrip, PackThenUnpackGivesBackEveryFile) {
  TempFolder tree;
  const std::vector<std::pair<std::string, size_t>> files = {
      {"empty", 0},         {"a/b/c/deep.bin", 63999}, {"one block", 64000},
      {"a/block+1", 64001}, {"two blocks", 128000},    {HostName("high \xE9\xFF.txt"), 17},
  };
  uint32_t seed = 1;
  for (const auto& [name, size] : files) WriteFile(tree / name, PatternBytes(size, seed++));
  ASSERT_EQ(RunBundra(tree.path(), {"round"}).exitCode, 0);
  TempFolder out;
  fs::copy_file(tree / "GOB/ROUND.GOB", out / "ROUND.GOB");
  const RunResult run = RunSpillet(out.path(), {"round"});
  ASSERT_EQ(run.exitCode, 0) << run.output;
  fs::remove(out / "ROUND.GOB");
  fs::remove_all(tree / "GOB");
  EXPECT_EQ(TreeContents(out.path()), TreeContents(tree.path()));
}

}  // namespace
