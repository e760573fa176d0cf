// Bundra's refusals and failures end to end: what it will not pack, what
// happens when a file operation fails, and that an earlier archive of the
// same name survives every one of them byte for byte.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>

#include "test_support.h"

namespace {

constexpr uint64_t TwoTo31 = uint64_t{1} << 31;
// Big enough for every archive these tests mean to be written, far below what a
// faulty run would write for the sparse files: such a run fails instead of filling the disk.
constexpr uint64_t FileLimit = 1 << 20;
// A "disk" of 100 KiB for the failures while copying.
constexpr uint64_t DiskLimit = 102400;

const std::string EarlierArchive = BuildArchive({{"OLD.TXT", "the earlier archive"}});

// A tree with an archive GOB/X.GOB from an earlier run.
struct TreeWithArchive {
  TempFolder tree;
  TreeWithArchive() { WriteFile(tree / "GOB/X.GOB", EarlierArchive); }
  // The earlier archive is unchanged and GOB holds what it held before: no temporary file.
  void ExpectEarlierArchiveAlone(const std::vector<std::string>& before = {"X.GOB"}) const {
    EXPECT_EQ(ReadFile(tree / "GOB/X.GOB"), EarlierArchive);
    EXPECT_EQ(FolderNames(tree / "GOB"), before);
  }
};

void MakeSparse(const fs::path& path, uint64_t size) {
  WriteFile(path, "");
  fs::resize_file(path, size);
}

TEST(BundraRefuses, WhatTheArchiveCannotHoldBeforeWritingAnything) {
  struct Case {
    const char* what;
    std::function<void(const fs::path&)> make;
    std::string line;
  };
  const std::string folder(100, 'd');
  const std::string file(28, 'f');
  const Case cases[] = {
      {"path of 129 characters", [&](const fs::path& t) { WriteFile(t / folder / file, "x"); },
       "Error: Path longer than 128 characters: " + folder + "\\" + file},
      {"backslash in a file name", [](const fs::path& t) { WriteFile(t / "sub/a\\b.txt", "x"); },
       "Error: Backslash in a file or folder name: sub\\a\\b.txt"},
      {"backslash in a folder name", [](const fs::path& t) { WriteFile(t / "x\\y/f", "x"); },
       "Error: Backslash in a file or folder name: x\\y"},
      {"file of 2^31 bytes", [](const fs::path& t) { MakeSparse(t / "big", TwoTo31); },
       "Error: File of 2 GB or more: big"},
      // Its low 32 bits are 0: the size must not be taken from them alone.
      {"file of 2^32 bytes", [](const fs::path& t) { MakeSparse(t / "huge", 2 * TwoTo31); },
       "Error: File of 2 GB or more: huge"},
      {"data past 2^31 - 1",
       [](const fs::path& t) {
         MakeSparse(t / "part1", TwoTo31 - 4096);
         MakeSparse(t / "part2", TwoTo31 - 4096);
       },
       "Error: Archive would pass 2147483647 bytes: part2"},
      // The archive of "a" alone fits; one more index entry of 136 bytes does not.
      {"index entries past 2^31 - 1",
       [](const fs::path& t) {
         MakeSparse(t / "a", 2147483400);
         WriteFile(t / "b", "");
       },
       "Error: Archive would pass 2147483647 bytes: b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TreeWithArchive setup;
    c.make(setup.tree.path());
    const RunResult run = RunBundraWithFileLimit(setup.tree.path(), {"x"}, FileLimit);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.output, BundraBanner() + c.line + "\r\n");
    setup.ExpectEarlierArchiveAlone();
  }
}

TEST(BundraFails, WhenTheArchiveCannotBeCreatedLeavingTheEarlierOneIntact) {
  struct Case {
    const char* what;
    const char* argument;
    std::function<void(const fs::path&)> make;
    std::string message;
  };
  const Case cases[] = {
      // Refused even for root, who could write the file otherwise.
      {"read-only archive", "x",
       [](const fs::path& t) { fs::permissions(t / "GOB/X.GOB", fs::perms::owner_read); },
       "File access denied."},
      {"folder in its place", "y", [](const fs::path& t) { fs::create_directory(t / "GOB/Y.GOB"); },
       "File access denied."},
      {"folder below GOB missing", "sub\\x", [](const fs::path&) {}, "Invalid filename."},
      {"wildcard in the name", "x*", [](const fs::path&) {}, "I/O error 123."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TreeWithArchive setup;
    WriteFile(setup.tree / "A.TXT", "a");
    c.make(setup.tree.path());
    const std::vector<std::string> before = FolderNames(setup.tree / "GOB");
    const RunResult run = RunBundra(setup.tree.path(), {c.argument});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(
        IsFailureReport(run.output, BundraBanner(), ModuleFileName(BundraPath()), c.message));
    setup.ExpectEarlierArchiveAlone(before);
  }
}

TEST(BundraFails, WhileCopyingLeavingTheEarlierArchiveAndNoTemporary) {
  struct Case {
    const char* what;
    std::function<void(const fs::path&)> make;
    std::string lines;
    std::string message;
  };
  const Case cases[] = {
      // Legal on Linux, but no name the opening takes.
      {"source that cannot be opened",
       [](const fs::path& t) {
         WriteFile(t / "a", "first");
         WriteFile(t / "b?", "second");
       },
       "Adding a...\r\nAdding b?...\r\n", "I/O error 123."},
      // 288 bytes of header and index, then "a" up to the limit: full when "b" comes.
      {"disk full between writes",
       [](const fs::path& t) {
         WriteFile(t / "a", PatternBytes(DiskLimit - 288, 1));
         WriteFile(t / "b", "1");
       },
       // Wine reports the file-size limit standing in for a full disk as a general
       // failure; a full disk on Windows gives 112.
       "Adding a...\r\nAdding b...\r\n", TargetIsWindows() ? "I/O error 31." : "I/O error 112."},
      {"disk full within a write",
       [](const fs::path& t) { WriteFile(t / "a", PatternBytes(200000, 1)); }, "Adding a...\r\n",
       "Disk full."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TreeWithArchive setup;
    c.make(setup.tree.path());
    const RunResult run = RunBundraWithFileLimit(setup.tree.path(), {"x"}, DiskLimit);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(IsFailureReport(run.output, BundraBanner() + c.lines, ModuleFileName(BundraPath()),
                                c.message));
    setup.ExpectEarlierArchiveAlone();
  }
}

TEST(BundraFails, WhenNoFileCanBeOpenedBesideTheArchive) {
  // A limit on open descriptors is Linux's; Wine cannot even start under this one.
  if (TargetIsWindows()) GTEST_SKIP() << "descriptor limits are Linux-only";
  // Standard input, output and error, and the archive: no room for a source.
  TreeWithArchive setup;
  WriteFile(setup.tree / "A.TXT", "a");
  const RunResult run = RunBundraWithOpenFileLimit(setup.tree.path(), {"x"}, 4);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(IsFailureReport(run.output, BundraBanner() + "Adding A.TXT...\r\n",
                              ModuleFileName(BundraPath()), "Too many open files."));
  setup.ExpectEarlierArchiveAlone();
}

TEST(Bundra, PacksReadOnlyFilesInReadOnlyFolders) {
  TempFolder tree;
  WriteFile(tree / "ro/A.TXT", "read-only");
  fs::permissions(tree / "ro/A.TXT", fs::perms::owner_read | fs::perms::group_read);
  fs::permissions(tree / "ro", fs::perms::owner_read | fs::perms::owner_exec);
  const RunResult run = RunBundra(tree.path(), {"x"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.output, BundraBanner() + "Adding ro\\A.TXT...\r\n");
  EXPECT_EQ(ReadFile(tree / "GOB/X.GOB"), BuildArchive({{"ro\\A.TXT", "read-only"}}));
}

TEST(BundraReport, NamesTheProgramAndAStableAddressPerFailureSite) {
  TempFolder tree;
  WriteFile(tree / "a?", "x");
  const auto addressOf = [&tree](const std::string& program, const std::string& argument,
                                 const std::string& lines, const std::string& message) {
    const RunResult run = RunProgram(program, tree.path(), {argument});
    std::string address;
    EXPECT_TRUE(IsFailureReport(run.output, BundraBanner() + lines, ModuleFileName(program),
                                message, &address));
    return address;
  };
  const std::string opening = addressOf(BundraPath(), "x", "Adding a?...\r\n", "I/O error 123.");
  const std::string creating = addressOf(BundraPath(), "sub\\x", "", "Invalid filename.");
  EXPECT_EQ(addressOf(BundraPath(), "x", "Adding a?...\r\n", "I/O error 123."), opening);
  EXPECT_EQ(addressOf(BundraPath(), "sub\\x", "", "Invalid filename."), creating);
  EXPECT_NE(opening, creating);

  // The module is the running program's own file name, whatever it is called.
  TempFolder elsewhere;
  const fs::path renamed = elsewhere / ("my-packer" + fs::path(BundraPath()).extension().string());
  fs::copy_file(BundraPath(), renamed);
  EXPECT_EQ(addressOf(renamed.string(), "x", "Adding a?...\r\n", "I/O error 123."), opening);
}

}  // namespace
