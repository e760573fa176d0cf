// Bundra's standard output end to end: a file, a pipe, a character device,
// and output that cannot be written at all.
#include <gtest/gtest.h>

#include "test_support.h"

namespace {

// Enough lines to pass the 128-byte output buffer several times.
void MakeTree(const TempFolder& tree) {
  for (const char* name : {"3DO/KY.3DO", "ART/PAL/LEVEL.PAL", "README.TXT", "SOUNDS/boom.voc"}) {
    WriteFile(tree / name, name);
  }
}

const std::string TreeLines =
    "Adding 3DO\\KY.3DO...\r\nAdding ART\\PAL\\LEVEL.PAL...\r\nAdding README.TXT...\r\n"
    "Adding SOUNDS\\boom.voc...\r\n";

TEST(BundraOutput, FileAndPipeGetTheSameBytes) {
  for (const Output output : {Output::File, Output::Pipe}) {
    TempFolder tree;
    MakeTree(tree);
    const RunResult run = RunBundra(tree.path(), {"x"}, output);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, BundraBanner() + TreeLines);
    EXPECT_TRUE(fs::is_regular_file(tree / "GOB/X.GOB"));
  }
}

TEST(BundraOutput, CharacterDeviceTakesTheLines) {
  TempFolder tree;
  MakeTree(tree);
  const RunResult run = RunBundra(tree.path(), {"x"}, Output::DevNull);
  EXPECT_EQ(run.exitCode, 0);
  TempFolder same;
  MakeTree(same);
  ASSERT_EQ(RunBundra(same.path(), {"x"}).exitCode, 0);
  EXPECT_EQ(ReadFile(tree / "GOB/X.GOB"), ReadFile(same / "GOB/X.GOB"));
}

TEST(BundraOutput, UnwritableOutputEndsTheRunWithCodeOneAndNoArchive) {
  // A pipe nobody reads would kill the program by SIGPIPE (code 141) if it were not ignored.
  for (const Output output : {Output::BrokenPipe, Output::Closed}) {
    TempFolder tree;
    MakeTree(tree);
    WriteFile(tree / "GOB/X.GOB", "earlier");
    const RunResult run = RunBundra(tree.path(), {"x"}, output);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(ReadFile(tree / "GOB/X.GOB"), "earlier");
    EXPECT_EQ(FolderNames(tree / "GOB"), std::vector<std::string>{"X.GOB"});
  }
}

}  // namespace
