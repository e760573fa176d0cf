// Inputs at the format's limits: the most entries, the deepest tree, an
// index that claims far more entries than the archive holds.
#include <gtest/gtest.h>

#include "limited_run.h"
#include "test_support.h"

namespace {

TEST(LargeInputs, EightThousandOneHundredNinetyTwoEntriesGoBothWays) {
  constexpr int MaxEntries = 8192;
  constexpr int Folders = 64;
  TempFolder tree;
  for (int i = 0; i < MaxEntries; ++i) {
    const std::string number = std::to_string(i);
    WriteFile(
        tree / fs::path("D").concat(std::to_string(i % Folders)) / fs::path("F").concat(number),
        number);
  }
  const RunResult packed = RunBundra(tree.path(), {"many"});
  ASSERT_EQ(packed.exitCode, 0) << packed.output.substr(packed.output.size() - 300);
  const std::string archive = ReadFile(tree / "GOB/MANY.GOB");
  EXPECT_EQ(archive.substr(12, 4), Le32(MaxEntries));

  TempFolder out;
  WriteFile(out / "MANY.GOB", archive);
  const RunResult unpacked = RunSpillet(out.path(), {"many"});
  ASSERT_EQ(unpacked.exitCode, 0) << unpacked.output.substr(unpacked.output.size() - 300);
  fs::remove(out / "MANY.GOB");
  fs::remove_all(tree / "GOB");
  EXPECT_EQ(TreeContents(out.path()), TreeContents(tree.path()));

  // One file more: refused before any archive is written.
  WriteFile(tree / "ONE MORE", "x");
  const RunResult refused = RunBundra(tree.path(), {"many"});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_TRUE(refused.output.ends_with("Error: To many files (8192) in BUNDRA archive\r\n"));
  EXPECT_FALSE(fs::exists(tree / "GOB/MANY.GOB"));
}

TEST(LargeInputs, DeepestTreeTheNameFieldHolds) {
  // 63 one-letter folders and a two-letter file: a stored path of exactly 128 characters.
  std::string stored;
  fs::path relative;
  for (int depth = 0; depth < 63; ++depth) {
    stored += "d\\";
    relative /= "d";
  }
  stored += "ff";
  ASSERT_EQ(stored.size(), 128u);
  TempFolder tree;
  WriteFile(tree / relative / "ff", "deep");
  const RunResult packed = RunBundra(tree.path(), {"deep"});
  ASSERT_EQ(packed.exitCode, 0) << packed.output;
  const std::string archive = ReadFile(tree / "GOB/DEEP.GOB");
  EXPECT_EQ(archive, BuildArchive({{stored, "deep"}}));  // the name field has no zero

  TempFolder out;
  WriteFile(out / "DEEP.GOB", archive);
  const RunResult unpacked = RunSpillet(out.path(), {"deep"});
  EXPECT_EQ(unpacked.exitCode, 0) << unpacked.output;
  EXPECT_EQ(ReadFile(out / relative / "ff"), "deep");

  // One character more is refused, naming the path.
  fs::rename(tree / relative / "ff", tree / relative / "fff");
  const RunResult refused = RunBundra(tree.path(), {"deep"});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_TRUE(refused.output.ends_with(
      "Error: Path longer than 128 characters: " + stored.substr(0, 126) + "fff\r\n"))
      << refused.output;
  EXPECT_EQ(ReadFile(tree / "GOB/DEEP.GOB"), archive);
}

TEST(LargeInputs, IndexClaimingTheMostEntriesStopsAtTheFirstMissingRecord) {
  // The count says 2^31 - 1; the index holds two records.
  const std::string archive = ArchiveHeader(12) + Le32(0x7FFFFFFF) +
                              IndexEntryBytes({16 + 2 * 136, 3, "A.TXT"}) +
                              IndexEntryBytes({16 + 2 * 136 + 3, 2, "B\\B.TXT"}) + "abc" + "de";
  TempFolder out;
  WriteFile(out / "HUGE.GOB", archive);
  // Constant memory: a run that held anything per entry would meet this limit.
  Limits limits;
  if (!UnderAddressSanitizer()) limits.addressSpace = 64 << 20;
  const RunResult run = RunLimited(SpilletPath(), out.path(), {"huge"}, limits);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.output.find("Number of files in archive: 2147483647\r\n"), std::string::npos);
  EXPECT_EQ(ReportMessage(run.output), "Read beyond end of file.") << run.output;
  EXPECT_EQ(ReadFile(out / "A.TXT"), "abc");
  EXPECT_EQ(ReadFile(out / "B/B.TXT"), "de");
  EXPECT_EQ(ReadFile(out / "HUGE.GOB"), archive);
}

}  // namespace
