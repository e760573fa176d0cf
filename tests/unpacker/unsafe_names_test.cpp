// Entries whose names lead outside the current folder are skipped with a
// line; the run goes on and ends with exit code 1, and nothing outside the
// current folder is created or changed.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "test_support.h"
#include "unpacker_support.h"

namespace {

std::set<std::string> Listing(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

TEST(UnsafeNames, SkippedAndNothingOutsideIsTouched) {
  TempFolder root;
  WriteFile(root / "X.DAT", "sentinel");
  const fs::path work = root / "work";
  fs::create_directory(work);
  std::string rootBackslashed = root.path().string();
  std::replace(rootBackslashed.begin(), rootBackslashed.end(), '/', '\\');
  const std::vector<std::string> unsafe = {
      "..\\X.DAT",
      "../X.DAT",
      "A\\..\\..\\X.DAT",
      "A\\..\\B.TXT",  // stays inside, but its ".." part is refused all the same
      "..",
      root.path().string() + "/X.DAT",
      rootBackslashed + "\\X.DAT",
      "C:X.DAT",
      "c:\\X.DAT",
  };
  std::vector<std::pair<std::string, std::string>> entries = {{"A.TXT", "a"}};
  for (const std::string& name : unsafe) entries.emplace_back(name, "evil");
  entries.emplace_back("B.TXT", "b");
  const std::string archive = BuildArchive(entries);
  WriteFile(work / "T.GOB", archive);
  const std::set<std::string> rootBefore = Listing(root.path());

  const RunResult run = RunSpillet(work, {"t"});

  std::string expected = Lines({"Number of files in archive: " + std::to_string(entries.size()), "",
                                "Splitting into A.TXT - 1 bytes"});
  for (const std::string& name : unsafe) {
    expected += Lines({"Skipping " + name + ": it leads outside the current folder"});
  }
  expected += Lines({"Splitting into B.TXT - 1 bytes"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.output, SpilletBanner() + expected);
  EXPECT_EQ(Listing(root.path()), rootBefore);
  EXPECT_EQ(ReadFile(root / "X.DAT"), "sentinel");
  EXPECT_EQ(Listing(work), (std::set<std::string>{"A.TXT", "B.TXT", "T.GOB"}));
  EXPECT_EQ(ReadFile(work / "A.TXT"), "a");
  EXPECT_EQ(ReadFile(work / "B.TXT"), "b");
}

}  // namespace
