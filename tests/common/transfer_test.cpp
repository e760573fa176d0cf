// The layer's checked files in-process, where the fast ways (copying in the
// kernel, positions kept by the layer, creating a new file with one call)
// must fail and leave files exactly as the plain ways do.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "program.h"
#include "system.h"
#include "system_platform.h"
#include "test_support.h"

namespace {

// The programs' TransferBlock (gob_format.h and test_support.h cannot meet in one file).
constexpr int32_t TransferBlock = 64000;

// Runs each test in a fresh current folder, with nothing left of an earlier run.
class CheckedFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::ReleaseRun();
    previous_ = fs::current_path();
    fs::current_path(folder_.path());
  }
  void TearDown() override {
    platform::ReleaseRun();
    fs::current_path(previous_);
  }

  TempFolder folder_;
  fs::path previous_;
};

// The code of the EInOutError that an operation raises, or 0.
template <typename Operation>
int32_t CodeOf(Operation operation) {
  try {
    operation();
  } catch (const EInOutError& failure) {
    return failure.Code();
  }
  return 0;
}

TEST_F(CheckedFiles, CopyDataMovesEveryByteFromEachPosition) {
  const std::string source = PatternBytes(300000, 7);
  WriteFile("SOURCE", source);
  const auto buffer = AllocateBuffer(TransferBlock);
  // Below, at and around the block, and whole blocks, from odd positions.
  const std::pair<int32_t, int32_t> cases[] = {{0, 1},       {5, 16383},   {5, 16384},
                                               {7, 63999},   {7, 64000},   {11, 64001},
                                               {13, 128000}, {17, 200001}, {0, 300000}};
  for (const auto& [position, size] : cases) {
    TCheckedFile from;
    TCheckedFile to;
    OpenExisting(from, "SOURCE");
    SeekTo(from, position);
    CreateFresh(to, "COPY");
    CopyData(from, to, size, buffer.get());
    CloseChecked(to);
    CloseChecked(from);
    EXPECT_EQ(ReadFile("COPY"), source.substr(position, size)) << position << " " << size;
  }
}

TEST_F(CheckedFiles, ShortSourceFailsWithNothingOfTheBlockWritten) {
  WriteFile("SOURCE", PatternBytes(100000, 3));
  const auto buffer = AllocateBuffer(TransferBlock);
  TCheckedFile from;
  TCheckedFile to;
  OpenExisting(from, "SOURCE");
  CreateFresh(to, "COPY");
  // The first block is there; the second reaches beyond the end.
  CopyExact(from, to, buffer.get(), TransferBlock);
  EXPECT_EQ(CodeOf([&] { CopyExact(from, to, buffer.get(), TransferBlock); }),
            ErrorCode::ReadPastEnd);
  CloseChecked(to);
  EXPECT_EQ(ReadFile("COPY"), PatternBytes(100000, 3).substr(0, TransferBlock));
}

// A file size limit stands in for a disk that fills up: the write that
// passes it is cut short, the next one fails as on a full disk.
TEST_F(CheckedFiles, DiskFilledWithinABlockIsAShortWriteWhicheverWayItIsCopied) {
  constexpr rlim_t Limit = 100000;
  WriteFile("SOURCE", PatternBytes(200000, 5));
  const auto buffer = AllocateBuffer(TransferBlock);
  using Copy = std::function<void(TCheckedFile&, TCheckedFile&)>;
  const std::pair<const char*, Copy> ways[] = {
      {"in the kernel",
       [&](TCheckedFile& from, TCheckedFile& to) {
         CopyExact(from, to, buffer.get(), TransferBlock);
       }},
      {"through the buffer",
       [&](TCheckedFile& from, TCheckedFile& to) {
         ReadExact(from, buffer.get(), TransferBlock);
         WriteExact(to, buffer.get(), TransferBlock);
       }},
  };
  const auto previousSignal = signal(SIGXFSZ, SIG_IGN);
  rlimit previous{};
  getrlimit(RLIMIT_FSIZE, &previous);
  const rlimit limited{Limit, previous.rlim_max};
  for (const auto& entry : ways) {
    const char* way = entry.first;
    const Copy& copy = entry.second;  // a structured binding cannot be captured by clang 14
    TCheckedFile from;
    TCheckedFile to;
    OpenExisting(from, "SOURCE");
    CreateFresh(to, "COPY");
    setrlimit(RLIMIT_FSIZE, &limited);
    copy(from, to);
    const int32_t cut = CodeOf([&] { copy(from, to); });
    const int32_t full = CodeOf([&] { copy(from, to); });
    setrlimit(RLIMIT_FSIZE, &previous);
    EXPECT_EQ(cut, ErrorCode::ShortWrite) << way;
    EXPECT_EQ(full, ErrorCode::DiskFull) << way;
    CloseChecked(to);
    EXPECT_EQ(fs::file_size("COPY"), Limit) << way;
  }
  signal(SIGXFSZ, previousSignal);
}

TEST_F(CheckedFiles, SeekingSetsWhereTheNextTransferStarts) {
  WriteFile("DATA", "0123456789");
  TCheckedFile file;
  OpenExisting(file, "DATA");
  char bytes[4] = {};
  SeekTo(file, 6);
  ReadExact(file, bytes, 4);
  EXPECT_EQ(std::string(bytes, 4), "6789");
  SeekTo(file, 2);
  ReadExact(file, bytes, 2);
  ReadExact(file, bytes + 2, 2);
  EXPECT_EQ(std::string(bytes, 4), "2345");
  // A short read moves past the bytes it found.
  SeekTo(file, 8);
  EXPECT_EQ(CodeOf([&] { ReadExact(file, bytes, 4); }), ErrorCode::ReadPastEnd);
  EXPECT_EQ(CodeOf([&] { ReadExact(file, bytes, 1); }), ErrorCode::ReadPastEnd);
  SeekTo(file, 100);
  EXPECT_EQ(CodeOf([&] { ReadExact(file, bytes, 1); }), ErrorCode::ReadPastEnd);
  EXPECT_EQ(CodeOf([&] { SeekTo(file, -1); }), ErrorCode::NegativeSeek);
  CloseChecked(file);
}

TEST_F(CheckedFiles, CreateFreshReplacesACaseVariantAndKeepsItsName) {
  fs::create_directory("sub");
  WriteFile("sub/ky.3do", "old contents");
  WriteFile("top.txt", "old");
  const struct {
    std::string_view folder;
    std::string_view name;
    fs::path onDisk;
  } cases[] = {
      {"SUB", "SUB\\KY.3DO", "sub/ky.3do"},
      {"", "TOP.TXT", "top.txt"},
  };
  for (const auto& c : cases) {
    if (!c.folder.empty()) {
      EXPECT_FALSE(MakeFolder(c.folder));
    }
    TCheckedFile file;
    CreateFresh(file, c.name);
    WriteExact(file, "new", 3);
    CloseChecked(file);
    EXPECT_EQ(ReadFile(c.onDisk), "new") << c.name;
  }
  EXPECT_EQ(TreeContents(".").size(), 2u);
}

TEST_F(CheckedFiles, CreateFreshSeesFilesMadeBehindItsBack) {
  // The folder's names are known to the layer before these files appear.
  fs::create_directory("sub");
  ASSERT_FALSE(MakeFolder("sub"));
  TCheckedFile file;
  CreateFresh(file, "sub\\FIRST");
  CloseChecked(file);
  WriteFile("sub/LOCKED", "keep");
  chmod("sub/LOCKED", 0444);
  WriteFile("sub/FULL", "old contents");
  EXPECT_EQ(CodeOf([&] { CreateFresh(file, "sub\\LOCKED"); }), ErrorCode::AccessDenied);
  EXPECT_EQ(ReadFile("sub/LOCKED"), "keep");
  CreateFresh(file, "sub\\FULL");
  CloseChecked(file);
  EXPECT_EQ(ReadFile("sub/FULL"), "");
}

TEST_F(CheckedFiles, NewFileCannotBeOpenedWhileItIsWritten) {
  TCheckedFile written;
  TCheckedFile other;
  CreateFresh(written, "NEW.DAT");
  EXPECT_EQ(CodeOf([&] { OpenExisting(other, "NEW.DAT"); }), ErrorCode::SharingViolation);
  EXPECT_EQ(CodeOf([&] { CreateFresh(other, "new.dat"); }), ErrorCode::SharingViolation);
  CloseChecked(written);
  OpenExisting(other, "new.dat");
  CloseChecked(other);
}

}  // namespace
