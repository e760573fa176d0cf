// Extraction on small archives built from their fields, malformed ones
// included: spillet goes wherever the index points and stops at the first
// failed operation, keeping what it wrote before.
#include <gtest/gtest.h>

#include <algorithm>

#include "test_support.h"
#include "unpacker_support.h"

namespace {

using Files = std::vector<std::pair<std::string, std::string>>;

struct Case {
  const char* what;
  std::string archive;
  Files before;        // files in the run's folder before the run
  std::string output;  // after the banner
  int exitCode;
  Files after;  // every file afterwards, the archive "T.GOB" aside
};

const std::string Pattern = PatternBytes(130000);

std::string Name128() {
  return std::string(124, 'N') + ".TXT";
}

std::vector<Case> Cases() {
  const std::string count1 = "Number of files in archive: 1";
  const std::string count2 = "Number of files in archive: 2";
  return {
      {"an empty archive",
       BuildArchive({}),
       {},
       Lines({"Number of files in archive: 0", ""}),
       0,
       {}},
      {"one file",
       BuildArchive({{"A.TXT", "hello"}}),
       {},
       Lines({count1, "", "Splitting into A.TXT - 5 bytes"}),
       0,
       {{"A.TXT", "hello"}}},
      {"sizes around the block, nested folders made on the way",
       BuildArchive({{"R.BIN", Pattern.substr(0, 63999)},
                     {"A\\ONE.BIN", Pattern.substr(1, 64000)},
                     {"A\\B\\C\\ONE1.BIN", Pattern.substr(2, 64001)},
                     {"TWO.BIN", Pattern.substr(0, 128000)},
                     {"Z.BIN", ""}}),
       {},
       Lines({"Number of files in archive: 5", "", "Splitting into R.BIN - 63999 bytes",
              "Splitting into A\\ONE.BIN - 64000 bytes",
              "Splitting into A\\B\\C\\ONE1.BIN - 64001 bytes",
              "Splitting into TWO.BIN - 128000 bytes", "Splitting into Z.BIN - 0 bytes"}),
       0,
       {{"A/B/C/ONE1.BIN", Pattern.substr(2, 64001)},
        {"A/ONE.BIN", Pattern.substr(1, 64000)},
        {"R.BIN", Pattern.substr(0, 63999)},
        {"TWO.BIN", Pattern.substr(0, 128000)},
        {"Z.BIN", ""}}},
      {"existing files are replaced, a size-0 entry empties its file",
       BuildArchive({{"OLD.TXT", ""}, {"NEW.TXT", "abc"}}),
       {{"OLD.TXT", "old content"}, {"NEW.TXT", "a longer old content"}},
       Lines({count2, "", "Splitting into OLD.TXT - 0 bytes", "Splitting into NEW.TXT - 3 bytes"}),
       0,
       {{"NEW.TXT", "abc"}, {"OLD.TXT", ""}}},
      {"an existing folder on the path",
       BuildArchive({{"3DO\\KY.3DO", "ky"}}),
       {{"3DO/KEEP.TXT", "keep"}},
       Lines({count1, "", "Splitting into 3DO\\KY.3DO - 2 bytes"}),
       0,
       {{"3DO/KEEP.TXT", "keep"}, {"3DO/KY.3DO", "ky"}}},
      {"duplicate names: the later data win",
       BuildArchive({{"A.TXT", "first"}, {"A.TXT", "second"}}),
       {},
       Lines({count2, "", "Splitting into A.TXT - 5 bytes", "Splitting into A.TXT - 6 bytes"}),
       0,
       {{"A.TXT", "second"}}},
      {"shared, overlapping and reordered data",
       IndexedArchive(3, {{3, 5, "A"}, {0, 5, "B"}, {0, 5, "C"}}, "abcdefgh"),
       {},
       Lines({"Number of files in archive: 3", "", "Splitting into A - 5 bytes",
              "Splitting into B - 5 bytes", "Splitting into C - 5 bytes"}),
       0,
       {{"A", "defgh"}, {"B", "abcde"}, {"C", "abcde"}}},
      {"a name field without a zero byte is all 128 bytes",
       IndexedArchive(1, {{0, 4, Name128()}}, "data"),
       {},
       Lines({count1, "", "Splitting into " + Name128() + " - 4 bytes"}),
       0,
       {{Name128(), "data"}}},
      {"an empty name sends the data to standard output",
       IndexedArchive(2, {{0, 5, ""}, {5, 2, "B.TXT"}}, "hellohi"),
       {},
       Lines({count2, "", "Splitting into  - 5 bytes"}) + "hello" +
           Lines({"Splitting into B.TXT - 2 bytes"}),
       0,
       {{"B.TXT", "hi"}}},
      {"a negative size creates an empty file and the run goes on",
       IndexedArchive(2, {{0, 0xFFFFFFFF, "X.DAT"}, {0, 3, "Y.DAT"}}, "abc"),
       {{"X.DAT", "old"}},
       Lines({count2, "", "Splitting into X.DAT - -1 bytes", "Splitting into Y.DAT - 3 bytes"}),
       0,
       {{"X.DAT", ""}, {"Y.DAT", "abc"}}},
      {"a count of -1 handles no entry",
       IndexedArchive(0xFFFFFFFF, {{0, 3, "X.DAT"}}, "abc"),
       {},
       Lines({"Number of files in archive: -1", ""}),
       0,
       {}},
      {"a count of -2^31 handles no entry",
       IndexedArchive(0x80000000, {{0, 3, "X.DAT"}}, "abc"),
       {},
       Lines({"Number of files in archive: -2147483648", ""}),
       0,
       {}},
      {"a size-0 entry past the end reads nothing",
       IndexedArchive(1, {{1000000, 0, "E.DAT"}}, ""),
       {},
       Lines({count1, "", "Splitting into E.DAT - 0 bytes"}),
       0,
       {{"E.DAT", ""}}},
      {"an index that is not at offset 12, after the data",
       ArchiveHeader(40) + "hello" + std::string(23, '\xEE') + Le32(1) +
           IndexEntryBytes({12, 5, "A.TXT"}),
       {},
       Lines({count1, "", "Splitting into A.TXT - 5 bytes"}),
       0,
       {{"A.TXT", "hello"}}},
      {"an empty file", "", {}, Report("Read beyond end of file."), 1, {}},
      {"too short for the index offset",
       ArchiveHeader(12).substr(0, 10),
       {},
       Report("Read beyond end of file."),
       1,
       {}},
      {"too short for the count",
       ArchiveHeader(12) + std::string("\x01\x00", 2),
       {},
       Report("Read beyond end of file."),
       1,
       {}},
      {"an index past the end",
       ArchiveHeader(1000) + Le32(1),
       {},
       Report("Read beyond end of file."),
       1,
       {}},
      {"an index offset of 2^31",
       ArchiveHeader(0x80000000) + Le32(1),
       {},
       Report("I/O error 131."),
       1,
       {}},
      {"a count beyond the index",
       IndexedArchive(3, {{0, 2, "A.TXT"}}, "ab"),
       {},
       Lines({"Number of files in archive: 3", "", "Splitting into A.TXT - 2 bytes"}) +
           Report("Read beyond end of file."),
       1,
       {{"A.TXT", "ab"}}},
      {"data past the end: the whole blocks before it are copied",
       IndexedArchive(2, {{0, 3, "A.TXT"}, {3, 130000, "BIG.DAT"}},
                      "abc" + Pattern.substr(0, 100000)),
       {},
       Lines({count2, "", "Splitting into A.TXT - 3 bytes",
              "Splitting into BIG.DAT - 130000 bytes"}) +
           Report("Read beyond end of file."),
       1,
       {{"A.TXT", "abc"}, {"BIG.DAT", Pattern.substr(0, 64000)}}},
      {"an entry offset of 2^31 fails before the entry's line",
       IndexedArchive(2, {{0, 1, "A.TXT"}, {0x80000000, 1, "B.TXT"}}, "a"),
       {},
       Lines({count2, "", "Splitting into A.TXT - 1 bytes"}) + Report("I/O error 131."),
       1,
       {{"A.TXT", "a"}}},
      {"a folder of the entry's name",
       BuildArchive({{"SUB", "x"}}),
       {{"SUB/KEEP.TXT", "keep"}},
       Lines({count1, "", "Splitting into SUB - 1 bytes"}) + Report("File access denied."),
       1,
       {{"SUB/KEEP.TXT", "keep"}}},
      // Only "\" makes folders; "/" still separates them when the file is created.
      {"a \"/\" name into a missing folder",
       BuildArchive({{"A/B.TXT", "ab"}}),
       {},
       Lines({count1, "", "Splitting into A/B.TXT - 2 bytes"}) + Report("Invalid filename."),
       1,
       {}},
      {"a \"/\" name into an existing folder",
       BuildArchive({{"A/B.TXT", "ab"}}),
       {{"A/KEEP.TXT", "keep"}},
       Lines({count1, "", "Splitting into A/B.TXT - 2 bytes"}),
       0,
       {{"A/B.TXT", "ab"}, {"A/KEEP.TXT", "keep"}}},
  };
}

TEST(Extract, ArchivesBuiltFromTheirFields) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.what);
    TempFolder folder;
    for (const auto& [path, contents] : c.before) WriteFile(folder / path, contents);
    WriteFile(folder / "T.GOB", c.archive);
    const RunResult run = RunSpillet(folder.path(), {"t"});
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_EQ(Masked(run.output), SpilletBanner() + c.output);
    Files expected = c.after;
    expected.emplace_back("T.GOB", c.archive);  // only read, never changed
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(TreeContents(folder.path()), expected);
  }
}

// Output to a pipe gets the same bytes in the same order as output to a
// file, the data of an empty-named entry included.
TEST(Extract, EmptyNameDataKeepTheirPlaceOnAPipe) {
  TempFolder folder;
  WriteFile(folder / "T.GOB", IndexedArchive(2, {{0, 5, ""}, {5, 2, "B.TXT"}}, "hellohi"));
  const RunResult run = RunSpillet(folder.path(), {"t"}, Output::Pipe);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.output,
            SpilletBanner() +
                Lines({"Number of files in archive: 2", "", "Splitting into  - 5 bytes"}) +
                "hello" + Lines({"Splitting into B.TXT - 2 bytes"}));
}

}  // namespace
