// The largest file an archive can hold, as a sparse file: packed, unpacked,
// and one byte more refused. Writes about 4 GiB; labelled "large".
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "test_support.h"

namespace {

constexpr int64_t MaxArchiveBytes = 0x7FFFFFFF;                // offsets are signed 32-bit
constexpr int64_t LargestFile = MaxArchiveBytes - (16 + 136);  // beside one index entry
const std::string Tail = "the last bytes";

// A file of the given size that holds nothing but its last bytes.
void WriteSparse(const fs::path& path, int64_t size) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, size), 0);
  ASSERT_EQ(pwrite(fd, Tail.data(), Tail.size(), size - static_cast<int64_t>(Tail.size())),
            static_cast<ssize_t>(Tail.size()));
  close(fd);
}

std::string ReadAt(const fs::path& path, int64_t position, size_t count) {
  const int fd = open(path.c_str(), O_RDONLY);
  std::string bytes(count, '\0');
  const ssize_t got = pread(fd, bytes.data(), count, position);
  close(fd);
  bytes.resize(got < 0 ? 0 : static_cast<size_t>(got));
  return bytes;
}

TEST(LargeFile, TheLargestFileThatFitsPacksAndUnpacks) {
  TempFolder tree;
  WriteSparse(tree / "BIG.BIN", LargestFile);
  const RunResult packed = RunBundra(tree.path(), {"big"});
  ASSERT_EQ(packed.exitCode, 0) << packed.output;
  const fs::path archive = tree / "GOB/BIG.GOB";
  EXPECT_EQ(static_cast<int64_t>(fs::file_size(archive)), MaxArchiveBytes);
  EXPECT_EQ(ReadAt(archive, 12, 12), Le32(1) + Le32(152) + Le32(LargestFile));
  EXPECT_EQ(ReadAt(archive, MaxArchiveBytes - Tail.size(), Tail.size()), Tail);
  fs::remove(tree / "BIG.BIN");

  if (fs::space(tree.path()).available < (uintmax_t{5} << 30)) {
    GTEST_SKIP() << "too little disk space to unpack 2 GiB";
  }
  const RunResult unpacked = RunSpillet(tree.path(), {"GOB/big"});
  ASSERT_EQ(unpacked.exitCode, 0) << unpacked.output;
  EXPECT_EQ(static_cast<int64_t>(fs::file_size(tree / "BIG.BIN")), LargestFile);
  EXPECT_EQ(ReadAt(tree / "BIG.BIN", LargestFile - Tail.size(), Tail.size()), Tail);
}

TEST(LargeFile, OneByteMoreIsRefusedBeforeAnythingIsWritten) {
  struct Case {
    int64_t size;
    std::string message;
  };
  const Case cases[] = {
      {LargestFile + 1, "Error: Archive would pass 2147483647 bytes: BIG.BIN\r\n"},
      {MaxArchiveBytes, "Error: Archive would pass 2147483647 bytes: BIG.BIN\r\n"},
      {MaxArchiveBytes + 1, "Error: File of 2 GB or more: BIG.BIN\r\n"},
  };
  for (const Case& c : cases) {
    TempFolder tree;
    WriteSparse(tree / "BIG.BIN", c.size);
    const RunResult run = RunBundra(tree.path(), {"big"});
    EXPECT_EQ(run.exitCode, 1) << c.size;
    EXPECT_TRUE(run.output.ends_with(c.message)) << c.size << "\n" << run.output;
    EXPECT_FALSE(fs::exists(tree / "GOB/BIG.GOB")) << c.size;
  }
}

}  // namespace
