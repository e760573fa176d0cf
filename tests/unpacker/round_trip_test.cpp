// Packing a tree with bundra and unpacking the archive with spillet in an
// empty folder gives back every file, byte for byte, under its path.
#include <gtest/gtest.h>

#include <set>

#include "test_support.h"

namespace {

// Every file and folder below root, folders marked with a trailing "/".
std::set<std::string> AllPaths(const fs::path& root) {
  std::set<std::string> paths;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    paths.insert(fs::relative(entry.path(), root).generic_string() +
                 (entry.is_directory() ? "/" : ""));
  }
  return paths;
}

TEST(RoundTrip, PackThenUnpackGivesBackEveryFile) {
  TempFolder root;
  const fs::path tree = root / "tree";
  const std::vector<std::pair<std::string, size_t>> files = {
      {"empty", 0},
      {"a/b/c/deep.bin", 63999},
      {"one block", 64000},
      {"a/block+1", 64001},
      {"two blocks", 128000},
      {"a/b/small", 1},
      // Names as the programs see them; on the host's disk in its own encoding.
      {HostName("high \xE9\xFF.txt"), 17},
      {HostName("folder with spaces/\xC4rger \xFC/n\xE4me.dat"), 300},
      {"Mixed/Case.Txt", 5},
  };
  uint32_t seed = 1;
  for (const auto& [name, size] : files) WriteFile(tree / name, PatternBytes(size, seed++));
  fs::create_directories(tree / "lonely/empty");  // folders hold no entry of their own

  ASSERT_EQ(RunBundra(tree, {"round"}).exitCode, 0);
  const fs::path out = root / "out";
  fs::create_directory(out);
  const RunResult run = RunSpillet(out, {"../tree/GOB/round.gob"});
  ASSERT_EQ(run.exitCode, 0) << run.output;

  fs::remove_all(tree / "GOB");
  fs::remove_all(tree / "lonely");
  EXPECT_EQ(AllPaths(out), AllPaths(tree));
  EXPECT_EQ(TreeContents(out), TreeContents(tree));
}

}  // namespace
