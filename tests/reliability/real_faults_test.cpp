// Faults as a user meets them, on the built programs: a full disk, standard
// output closed or a broken pipe, memory exhausted; and, in-process, a file
// that changes between the scan and the copy.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <iostream>
#include <thread>

#include "fault_injection.h"
#include "in_process.h"
#include "limited_run.h"
#include "test_support.h"

namespace {

std::vector<std::string> Listing(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

const std::string EarlierArchive = "an earlier archive that must survive";

// A tree of files of the given size below folder, and an earlier archive in GOB.
void MakeTree(const fs::path& folder, int files, size_t size) {
  for (int i = 0; i < files; ++i) {
    WriteFile(folder / ("FILE" + std::to_string(i) + ".BIN"), PatternBytes(size, i));
  }
  WriteFile(folder / "GOB/PACK.GOB", EarlierArchive);
}

// Bundra failed and left GOB as it was.
void ExpectBundraLostNothing(const fs::path& tree, const RunResult& run) {
  EXPECT_EQ(run.exitCode, 1) << run.output;
  EXPECT_EQ(Listing(tree / "GOB"), std::vector<std::string>{"PACK.GOB"});
  EXPECT_EQ(ReadFile(tree / "GOB/PACK.GOB"), EarlierArchive);
}

bool IsDiskFullMessage(const std::string& message) {
  // A write cut short at the limit, or one refused outright.
  return message == "Disk full." || message == "I/O error 112.";
}

TEST(RealFaults, FullDiskByFileSizeLimit) {
  constexpr rlim_t Limit = 150000;
  TempFolder tree;
  MakeTree(tree.path(), 3, 100000);
  const RunResult packed = RunLimited(BundraPath(), tree.path(), {"pack"}, {Limit});
  ExpectBundraLostNothing(tree.path(), packed);
  EXPECT_TRUE(IsDiskFullMessage(ReportMessage(packed.output))) << packed.output;

  TempFolder out;
  const std::string first = PatternBytes(100000, 1);
  const std::string second = PatternBytes(200000, 2);  // the limit is per file
  const std::string archive = BuildArchive({{"A.BIN", first}, {"SUB\\B.BIN", second}});
  WriteFile(out / "DATA.GOB", archive);
  const RunResult unpacked = RunLimited(SpilletPath(), out.path(), {"data"}, {Limit});
  EXPECT_EQ(unpacked.exitCode, 1);
  EXPECT_TRUE(IsDiskFullMessage(ReportMessage(unpacked.output))) << unpacked.output;
  EXPECT_EQ(ReadFile(out / "DATA.GOB"), archive);
  EXPECT_EQ(ReadFile(out / "A.BIN"), first);
  const std::string partial = ReadFile(out / "SUB/B.BIN");
  EXPECT_EQ(partial, second.substr(0, partial.size()));
}

TEST(RealFaults, FullDiskOnASmallFileSystem) {
  TempFolder mountPoint;
  if (mount("tmpfs", mountPoint.path().c_str(), "tmpfs", 0, "size=256k") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here; the file-size limit stands in for it";
  }
  struct Unmount {
    const fs::path& path;
    ~Unmount() { umount(path.c_str()); }
  } unmount{mountPoint.path()};

  // The files fit; the archive of them does not.
  const fs::path tree = mountPoint / "tree";
  MakeTree(tree, 3, 60000);
  const RunResult packed = RunLimited(BundraPath(), tree, {"pack"}, {});
  ExpectBundraLostNothing(tree, packed);
  EXPECT_TRUE(IsDiskFullMessage(ReportMessage(packed.output))) << packed.output;
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(ReadFile(tree / ("FILE" + std::to_string(i) + ".BIN")), PatternBytes(60000, i));
  }
}

TEST(RealFaults, StandardOutputClosedOrBrokenEndsWithExitCodeOne) {
  for (const Stdout output : {Stdout::Closed, Stdout::BrokenPipe}) {
    TempFolder tree;
    MakeTree(tree.path(), 20, 10);
    const RunResult packed = RunLimited(BundraPath(), tree.path(), {"pack"}, {}, output);
    ExpectBundraLostNothing(tree.path(), packed);

    TempFolder out;
    const std::string archive = BuildArchive({{"A.TXT", "hello"}});
    WriteFile(out / "DATA.GOB", archive);
    const RunResult unpacked = RunLimited(SpilletPath(), out.path(), {"data"}, {}, output);
    EXPECT_EQ(unpacked.exitCode, 1);
    EXPECT_EQ(ReadFile(out / "DATA.GOB"), archive);
  }
}

// Runs the program under address-space limits rising from where it cannot
// even be loaded to where it completes. Every run that started must either
// complete or end with "Out of memory." and exit code 1: never crash.
// Returns how many runs reported "Out of memory.".
int RunUnderRisingMemoryLimits(const std::function<RunResult(rlim_t)>& run,
                               const std::function<void(const RunResult&)>& expectComplete) {
  constexpr rlim_t Start = 2 << 20;
  constexpr rlim_t Coarse = 64 << 10;
  constexpr rlim_t Fine = 4 << 10;
  constexpr rlim_t Ceiling = 512 << 20;
  rlim_t enough = Start;
  while (enough < Ceiling && run(enough).exitCode != 0) enough += Coarse;
  EXPECT_LT(enough, Ceiling) << "never completes";
  int outOfMemory = 0;
  int runs = 0;
  for (rlim_t limit = enough > (1 << 20) ? enough - (1 << 20) : 0; limit <= enough; limit += Fine) {
    const RunResult result = run(limit);
    ++runs;
    const std::string context = "limit " + std::to_string(limit) + "\n" + result.output;
    if (result.exitCode == 127) {
      EXPECT_EQ(result.output, "") << context;  // the loader could not map the program
    } else if (result.exitCode == 1) {
      EXPECT_EQ(ReportMessage(result.output), "Out of memory.") << context;
      ++outOfMemory;
    } else {
      EXPECT_EQ(result.exitCode, 0) << context;
      expectComplete(result);
    }
  }
  std::cout << "[ memory  ] " << runs << " limits, " << outOfMemory << " runs out of memory\n";
  return outOfMemory;
}

TEST(RealFaults, MemoryExhaustedGivesOutOfMemory) {
  if (UnderAddressSanitizer()) GTEST_SKIP() << "the sanitizer's shadow memory needs terabytes";
  TempFolder tree;
  WriteFile(tree / "A.TXT", "hello");
  WriteFile(tree / "SUB/B.BIN", PatternBytes(70000));
  const std::string complete =
      BuildArchive({{"A.TXT", "hello"}, {"SUB\\B.BIN", PatternBytes(70000)}});
  const int packReports = RunUnderRisingMemoryLimits(
      [&tree](rlim_t limit) {
        return RunLimited(BundraPath(), tree.path(), {"pack"}, {RLIM_INFINITY, limit});
      },
      [&tree, &complete](const RunResult&) {
        EXPECT_EQ(ReadFile(tree / "GOB/PACK.GOB"), complete);
      });
  EXPECT_GT(packReports, 0);

  TempFolder out;
  WriteFile(out / "DATA.GOB", complete);
  const int unpackReports = RunUnderRisingMemoryLimits(
      [&out](rlim_t limit) {
        return RunLimited(SpilletPath(), out.path(), {"data"}, {RLIM_INFINITY, limit});
      },
      [&out](const RunResult&) { EXPECT_EQ(ReadFile(out / "SUB/B.BIN"), PatternBytes(70000)); });
  EXPECT_GT(unpackReports, 0);
  EXPECT_EQ(ReadFile(out / "DATA.GOB"), complete);
}

TEST(RealFaults, InterruptedBundraLeavesOnlyTheEarlierArchive) {
  for (const int interruption : {SIGINT, SIGTERM, SIGHUP}) {
    TempFolder tree;
    // More than a pipe holds of "Adding" lines: with nobody reading, bundra
    // blocks in the middle of its copy, its temporary written in part.
    MakeTree(tree.path(), 0, 0);
    const std::string longName(110, 'N');
    for (int i = 0; i < 600; ++i) WriteFile(tree / (longName + std::to_string(i)), "x");
    int output[2];
    ASSERT_EQ(pipe(output), 0);
    const pid_t child = fork();
    if (child == 0) {
      if (chdir(tree.path().c_str()) != 0) _exit(126);
      dup2(output[1], STDOUT_FILENO);
      close(output[0]);
      signal(interruption, SIG_DFL);
      execl(BundraPath().c_str(), BundraPath().c_str(), "pack", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(output[1]);
    const fs::path temporary = tree / "GOB/PACK.GOB.~1";
    for (int wait = 0; wait < 3000 && !fs::exists(temporary); ++wait) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(fs::exists(temporary));
    kill(child, interruption);
    int status = 0;
    waitpid(child, &status, 0);
    close(output[0]);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == interruption) << interruption;
    EXPECT_EQ(Listing(tree / "GOB"), std::vector<std::string>{"PACK.GOB"}) << interruption;
    EXPECT_EQ(ReadFile(tree / "GOB/PACK.GOB"), EarlierArchive);
  }
}

// What happens to the middle file between the scan and the copy.
fs::path changing;
void Shrink() {
  fs::resize_file(changing, 1000);
}
void Vanish() {
  fs::remove(changing);
}
void Grow() {
  WriteFile(changing, PatternBytes(70000, 2) + "more");
}

TEST(RealFaults, FileChangesBetweenScanAndCopy) {
  struct Case {
    const char* what;
    void (*change)();
    int exitCode;
    const char* message;
  };
  const Case cases[] = {
      {"shrinks", Shrink, 1, "Read beyond end of file."},
      {"vanishes", Vanish, 1, "File not found."},
      {"grows", Grow, 0, ""},  // the size scanned is what is packed
  };
  for (const Case& c : cases) {
    TempFolder tree;
    WriteFile(tree / "A.TXT", "first");
    WriteFile(tree / "B.BIN", PatternBytes(70000, 2));
    WriteFile(tree / "C.TXT", "last");
    WriteFile(tree / "GOB/PACK.GOB", EarlierArchive);
    changing = tree / "B.BIN";
    // The first opening is the archive's, after the scan and before any copy.
    SetFaultPlan({static_cast<uint32_t>(platform::Operation::Open), 1, 0, c.change});
    const InProcessRun run = RunInProcess(RunPacker, tree.path(), "bundra", {"pack"});
    ClearFaultPlan();
    EXPECT_EQ(run.exitCode, c.exitCode) << c.what << "\n" << run.output;
    EXPECT_EQ(Listing(tree / "GOB"), std::vector<std::string>{"PACK.GOB"}) << c.what;
    if (c.exitCode == 0) {
      EXPECT_EQ(
          ReadFile(tree / "GOB/PACK.GOB"),
          BuildArchive({{"A.TXT", "first"}, {"B.BIN", PatternBytes(70000, 2)}, {"C.TXT", "last"}}));
    } else {
      EXPECT_EQ(ReportMessage(run.output), c.message) << c.what << "\n" << run.output;
      EXPECT_EQ(ReadFile(tree / "GOB/PACK.GOB"), EarlierArchive) << c.what;
    }
  }
}

}  // namespace
