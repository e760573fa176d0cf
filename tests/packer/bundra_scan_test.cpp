// Bundra's scan end to end: which files an archive holds, in which order,
// what links and special files do, and the limit on the number of files.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>

#include "test_support.h"

namespace {

TEST(BundraScan, SameTreeGivesTheSameArchiveWhateverOrderItWasMadeIn) {
  const std::vector<std::string> names = {"b.txt",     "A.TXT", "_X", "a.txt", "Z/1",  "z2",
                                          "\xE9t\xE9", "~",     "0",  "sub/B", "sub/a"};
  TempFolder forward;
  TempFolder backward;
  for (size_t i = 0; i < names.size(); ++i) {
    WriteFile(forward / HostName(names[i]), names[i]);
    const std::string& last = names[names.size() - 1 - i];
    WriteFile(backward / HostName(last), last);
  }
  const RunResult run = RunBundra(forward.path(), {"x"});
  ASSERT_EQ(run.exitCode, 0);
  ASSERT_EQ(RunBundra(backward.path(), {"x"}).exitCode, 0);
  EXPECT_EQ(ReadFile(forward / "GOB/X.GOB"), ReadFile(backward / "GOB/X.GOB"));
  // Upper-cased bytes first, raw bytes to break ties; bytes above 0x7F last.
  EXPECT_EQ(run.output, BundraBanner() +
                            "Adding 0...\r\nAdding A.TXT...\r\nAdding a.txt...\r\n"
                            "Adding b.txt...\r\nAdding sub\\a...\r\nAdding sub\\B...\r\n"
                            "Adding Z\\1...\r\nAdding z2...\r\nAdding _X...\r\nAdding ~...\r\n"
                            "Adding \xE9t\xE9...\r\n");
}

TEST(BundraScan, SkipsFoldersNamedGobAtAnyDepth) {
  TempFolder tree;
  WriteFile(tree / "a/b/c/GOB/deep.txt", "no");
  WriteFile(tree / "a/b/c/kept.txt", "yes");
  WriteFile(tree / "a/gOB/kept.txt", "yes");
  const RunResult run = RunBundra(tree.path(), {"x"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(ReadFile(tree / "GOB/X.GOB"),
            BuildArchive({{"a\\b\\c\\kept.txt", "yes"}, {"a\\gOB\\kept.txt", "yes"}}));
}

void MakeSocket(const fs::path& path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(path.string().size(), sizeof address.sun_path);
  std::strcpy(address.sun_path, path.c_str());
  ASSERT_EQ(bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  close(fd);
}

TEST(BundraScan, FollowsLinksAndSkipsLoopsAndWhatIsNoFileWithALine) {
  // Links, FIFOs and sockets are Linux's; under Wine they are what Wine makes of them.
  if (TargetIsWindows()) GTEST_SKIP() << "links and special files are Linux-only";
  TempFolder tree;
  WriteFile(tree / "real/data.txt", "linked content");
  fs::create_symlink("real/data.txt", tree / "link.txt");
  fs::create_directory_symlink("real", tree / "linkdir");
  fs::create_directory_symlink("..", tree / "real/up");   // back to the top
  fs::create_directory_symlink(".", tree / "real/self");  // back to itself
  fs::create_symlink("nowhere", tree / "broken");
  fs::create_symlink("/dev/null", tree / "device");
  ASSERT_EQ(mkfifo((tree / "fifo").c_str(), 0644), 0);
  MakeSocket(tree / "sock");

  // A FIFO that were opened would wait for a writer for ever; the test's timeout catches that.
  const RunResult run = RunBundra(tree.path(), {"x"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.output, BundraBanner() +
                            "Skipping broken: not a regular file\r\n"
                            "Skipping device: not a regular file\r\n"
                            "Skipping fifo: not a regular file\r\n"
                            "Skipping linkdir\\self: a link back into the tree\r\n"
                            "Skipping linkdir\\up: a link back into the tree\r\n"
                            "Skipping real\\self: a link back into the tree\r\n"
                            "Skipping real\\up: a link back into the tree\r\n"
                            "Skipping sock: not a regular file\r\n"
                            "Adding link.txt...\r\n"
                            "Adding linkdir\\data.txt...\r\n"
                            "Adding real\\data.txt...\r\n");
  EXPECT_EQ(ReadFile(tree / "GOB/X.GOB"), BuildArchive({{"link.txt", "linked content"},
                                                        {"linkdir\\data.txt", "linked content"},
                                                        {"real\\data.txt", "linked content"}}));
}

TEST(BundraScan, LinkToAFolderOutsideTheTreeIsPacked) {
  TempFolder outside;
  WriteFile(outside / "shared/tex.bmp", "pixels");
  TempFolder tree;
  fs::create_directory_symlink(outside / "shared", tree / "shared");
  ASSERT_EQ(RunBundra(tree.path(), {"x"}).exitCode, 0);
  EXPECT_EQ(ReadFile(tree / "GOB/X.GOB"), BuildArchive({{"shared\\tex.bmp", "pixels"}}));
}

// Makes count empty files in the folder, named so that they list in creation order.
void MakeEmptyFiles(const fs::path& folder, int count) {
  fs::create_directories(folder);
  for (int i = 0; i < count; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "F%05d", i);
    std::ofstream created(folder / name);
  }
}

TEST(BundraScan, Packs8192FilesAndRefusesOneMoreWithoutWritingAnArchive) {
  TempFolder tree;
  MakeEmptyFiles(tree / "many", 8192);
  const RunResult run = RunBundra(tree.path(), {"x"});
  ASSERT_EQ(run.exitCode, 0);
  const std::string archive = ReadFile(tree / "GOB/X.GOB");
  ASSERT_EQ(archive.size(), 16u + 136u * 8192u);
  EXPECT_EQ(archive.substr(12, 4), Le32(8192));
  // Every entry of size 0 points at the end of the index.
  EXPECT_EQ(archive.substr(16 + 136 * 8191, 12), Le32(16 + 136 * 8192) + Le32(0) + "many");
  const std::string lastLine = "Adding many\\F08191...\r\n";
  EXPECT_EQ(run.output.substr(run.output.size() - lastLine.size()), lastLine);

  // One file more, anywhere in the tree: the earlier archive stays as it was.
  WriteFile(tree / "one-more", "");
  const RunResult refused = RunBundra(tree.path(), {"x"});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_EQ(refused.output, BundraBanner() + "Error: To many files (8192) in BUNDRA archive\r\n");
  EXPECT_EQ(ReadFile(tree / "GOB/X.GOB"), archive);
  EXPECT_EQ(FolderNames(tree / "GOB"), std::vector<std::string>{"X.GOB"});
}

}  // namespace

namespace {

// When the archive's folder exists only as "gob", or is reached through a
// link, it is still the archive's folder: an earlier archive in it is never packed.
TEST(BundraScan, NeverPacksTheArchiveFolderUnderAnotherName) {
  TempFolder lowerCase;
  WriteFile(lowerCase / "gob/OLD.GOB", "earlier archive");
  WriteFile(lowerCase / "a.txt", "a");
  RunResult run = RunBundra(lowerCase.path(), {"x"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.output,
            BundraBanner() + "Skipping gob: the folder of the archive\r\nAdding a.txt...\r\n");
  EXPECT_EQ(ReadFile(lowerCase / "gob/X.GOB"), BuildArchive({{"a.txt", "a"}}));

  TempFolder linked;
  WriteFile(linked / "GOB/OLD.GOB", "earlier archive");
  WriteFile(linked / "sub/a.txt", "a");
  fs::create_directory_symlink("../GOB", linked / "sub/out");
  run = RunBundra(linked.path(), {"x"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(
      run.output,
      BundraBanner() + "Skipping sub\\out: the folder of the archive\r\nAdding sub\\a.txt...\r\n");
}

}  // namespace
