// Files spillet must not damage: a read-only file of an entry's name, the
// archive itself; and files it only reads: a read-only archive.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "test_support.h"
#include "unpacker_support.h"

namespace {

const fs::perms ReadOnly = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;

// Refused even to root, whatever letter case the entry uses.
TEST(ProtectedFiles, ReadOnlyFileIsNotOverwritten) {
  const std::pair<const char*, const char*> cases[] = {
      {"KY.3DO", "KY.3DO"},
      {"ky.3do", "KY.3DO"},
      {"3do/ky.3do", "3DO\\KY.3DO"},
  };
  for (const auto& [existing, entry] : cases) {
    SCOPED_TRACE(entry);
    TempFolder folder;
    WriteFile(folder / existing, "keep");
    fs::permissions(folder / existing, ReadOnly);
    WriteFile(folder / "T.GOB", BuildArchive({{"A.TXT", "a"}, {entry, "new"}, {"B.TXT", "b"}}));
    const RunResult run = RunSpillet(folder.path(), {"t"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(Masked(run.output),
              SpilletBanner() +
                  Lines({"Number of files in archive: 3", "", "Splitting into A.TXT - 1 bytes",
                         "Splitting into " + std::string(entry) + " - 3 bytes"}) +
                  Report("File access denied."));
    EXPECT_EQ(ReadFile(folder / existing), "keep");
    EXPECT_EQ(fs::status(folder / existing).permissions(), ReadOnly);
    EXPECT_EQ(ReadFile(folder / "A.TXT"), "a");
    EXPECT_FALSE(fs::exists(folder / "B.TXT"));
  }
}

TEST(ProtectedFiles, EntryNamedLikeTheArchiveLeavesItIntact) {
  struct Case {
    std::string onDisk;
    std::string link;  // a symbolic link to the archive, "" for none
    std::string argument;
    std::string entry;
  };
  const Case cases[] = {
      {"data.gob", "", "data", "DATA.GOB"},
      {"sub/t.gob", "", "sub\\t.gob", "SUB\\T.GOB"},
      {"real.gob", "LINK.GOB", "link", "REAL.GOB"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entry);
    TempFolder folder;
    const std::string archive = BuildArchive({{"A.TXT", "a"}, {c.entry, "overwritten"}});
    WriteFile(folder / c.onDisk, archive);
    if (!c.link.empty()) fs::create_symlink(c.onDisk, folder / c.link);
    const RunResult run = RunSpillet(folder.path(), {c.argument});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(Masked(run.output),
              SpilletBanner() +
                  Lines({"Number of files in archive: 2", "", "Splitting into A.TXT - 1 bytes",
                         "Splitting into " + c.entry + " - 11 bytes"}) +
                  Report("I/O error 32."));
    EXPECT_EQ(ReadFile(folder / c.onDisk), archive);
    EXPECT_EQ(ReadFile(folder / "A.TXT"), "a");
  }
}

// Root may write any file. Run without that power, so that opening the
// archive for writing would fail for root as it does for any user.
RunResult RunSpilletAsAnyUser(const fs::path& folder, const std::vector<std::string>& arguments) {
  const char* launcher = std::getenv("TEST_LAUNCHER");
  const fs::path setpriv = "/usr/bin/setpriv";
  if (geteuid() != 0 || (launcher != nullptr && launcher[0] != '\0') || !fs::exists(setpriv)) {
    return RunSpillet(folder, arguments);
  }
  std::vector<std::string> words = {"--bounding-set=-dac_override,-dac_read_search", SpilletPath()};
  words.insert(words.end(), arguments.begin(), arguments.end());
  return RunProgram(setpriv, folder, words);
}

TEST(ProtectedFiles, ReadOnlyArchiveExtracts) {
  TempFolder folder;
  WriteFile(folder / "DATA.GOB", BuildArchive({{"A.TXT", "hello"}}));
  fs::permissions(folder / "DATA.GOB", ReadOnly);
  const RunResult run = RunSpilletAsAnyUser(folder.path(), {"data"});
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(ReadFile(folder / "A.TXT"), "hello");
}

// A FIFO as the archive or in an entry's place is refused, never waited on.
TEST(ProtectedFiles, FifosAreRefusedWithoutWaiting) {
  // Windows file systems hold no FIFOs; under Wine one is an unusable device.
  if (TargetIsWindows()) GTEST_SKIP() << "no FIFOs on Windows";
  TempFolder folder;
  ASSERT_EQ(mkfifo((folder / "DATA.GOB").c_str(), 0666), 0);
  RunResult run = RunSpillet(folder.path(), {"data"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(Masked(run.output), SpilletBanner() + Report("File access denied."));

  ASSERT_EQ(mkfifo((folder / "PIPE").c_str(), 0666), 0);
  WriteFile(folder / "T.GOB", BuildArchive({{"PIPE", "data"}}));
  run = RunSpillet(folder.path(), {"t"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(Masked(run.output),
            SpilletBanner() +
                Lines({"Number of files in archive: 1", "", "Splitting into PIPE - 4 bytes"}) +
                Report("File access denied."));
}

}  // namespace
