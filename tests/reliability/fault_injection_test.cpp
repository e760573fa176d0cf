// Whole runs of both programs in which the n-th system operation fails, for
// every n until a run ends without reaching n: every failure must end with
// the report and exit code 1, and nothing that existed may be lost.
#include "fault_injection.h"

#include <gtest/gtest.h>

#include <iostream>
#include <regex>

#include "in_process.h"
#include "system.h"
#include "test_support.h"

namespace {

using platform::Operation;

constexpr uint32_t Bits(std::initializer_list<Operation> operations) {
  uint32_t bits = 0;
  for (const Operation operation : operations) bits |= static_cast<uint32_t>(operation);
  return bits;
}

struct FaultKind {
  const char* what;
  int32_t code;
  uint32_t operations;  // where this error can happen
};

const FaultKind FaultKinds[] = {
    {"no space", ErrorCode::DiskFull,
     Bits({Operation::Open, Operation::Write, Operation::Close, Operation::Rename,
           Operation::MakeFolder, Operation::Console})},
    {"I/O error", ErrorCode::IoDevice, AllOperations},
    {"access denied", ErrorCode::AccessDenied,
     Bits({Operation::Open, Operation::Rename, Operation::MakeFolder, Operation::List})},
    {"short read", platform::ShortTransfer, Bits({Operation::Read})},
    {"short write", platform::ShortTransfer, Bits({Operation::Write})},
};

// The report's message for a fault hit at an operation that raises it.
std::string ExpectedMessage(const FaultKind& kind, Operation at) {
  if (kind.code != platform::ShortTransfer) return MessageFor(kind.code) + ".";
  return at == Operation::Read ? "Read beyond end of file." : "Disk full.";
}

// Compared without printing megabytes of bytes when they differ.
bool Same(const std::string& a, const std::string& b) {
  return a == b;
}

// The output ends with the two-line report of an EInOutError with this message.
bool EndsWithReport(const std::string& output, const std::string& message) {
  static const std::regex report(
      "Exception EInOutError in module [^ ]+ at [0-9A-F]{8}\\.\n([^\r\n]*)\r\n$");
  std::smatch match;
  return std::regex_search(output, match, report) && match[1] == message;
}

bool EndsWithAnyReport(const std::string& output) {
  static const std::regex report(
      "Exception EInOutError in module [^ ]+ at [0-9A-F]{8}\\.\n[^\r\n]*\\.\r\n$");
  return std::regex_search(output, report);
}

const std::vector<std::pair<std::string, std::string>> SourceFiles = {
    {"A.TXT", "hello"},
    {"ART/PAL/LEVEL.PAL", PatternBytes(64001, 3)},  // one block and a remainder
    {"b.bin", PatternBytes(100, 4)},
    {"EMPTY", ""},
};

std::vector<std::pair<std::string, std::string>> StoredEntries() {
  std::vector<std::pair<std::string, std::string>> entries;
  for (auto [path, data] : SourceFiles) {
    std::replace(path.begin(), path.end(), '/', '\\');
    entries.emplace_back(path, data);
  }
  return entries;
}

TEST(FaultInjection, BundraLosesNothingWhateverOperationFails) {
  TempFolder tree;
  for (const auto& [path, data] : SourceFiles) WriteFile(tree / path, data);
  const std::string earlier = "an earlier archive that must survive a failed run";
  WriteFile(tree / "GOB/PACK.GOB", earlier);
  const std::string complete = BuildArchive(StoredEntries());
  int64_t faults = 0;

  for (const FaultKind& kind : FaultKinds) {
    for (int64_t n = 1;; ++n) {
      ASSERT_LT(n, 10000) << "the runs never end";
      WriteFile(tree / "GOB/PACK.GOB", earlier);
      SetFaultPlan({kind.operations, n, kind.code});
      const InProcessRun run = RunInProcess(RunPacker, tree.path(), "bundra", {"pack"});
      const bool hit = FaultHit();
      const Operation at = FaultHitAt();
      ClearFaultPlan();
      const std::string context = std::string(kind.what) + ", operation " + std::to_string(n);

      // Nothing but the archive in GOB: no temporary file left behind.
      std::vector<std::string> inGob;
      for (const auto& entry : fs::directory_iterator(tree / "GOB")) {
        inGob.push_back(entry.path().filename().string());
      }
      EXPECT_EQ(inGob, std::vector<std::string>{"PACK.GOB"}) << context;
      for (const auto& [path, data] : SourceFiles) {
        EXPECT_TRUE(Same(ReadFile(tree / path), data)) << context << " " << path;
      }
      const std::string archive = ReadFile(tree / "GOB/PACK.GOB");

      if (!hit) {
        EXPECT_EQ(run.exitCode, 0) << context << run.output;
        EXPECT_TRUE(Same(archive, complete)) << context;
        break;
      }
      ++faults;
      if (run.exitCode != 0 && at != Operation::Console && at != Operation::List) {
        EXPECT_EQ(run.exitCode, 1) << context;
        EXPECT_TRUE(Same(archive, earlier)) << context;
      }
      switch (at) {
        case Operation::Console:
          // The last lines may fail after the archive was put in place.
          EXPECT_EQ(run.exitCode, 1) << context;
          EXPECT_TRUE(Same(archive, earlier) || Same(archive, complete)) << context;
          break;
        case Operation::MakeFolder:
          // GOB exists already: the failed creation changes nothing.
          EXPECT_EQ(run.exitCode, 0) << context << run.output;
          EXPECT_TRUE(Same(archive, complete)) << context;
          break;
        case Operation::List:
          // A folder that cannot be listed is named; what was listed is packed whole,
          // and the run fails since files are missing.
          EXPECT_EQ(run.exitCode, 1) << context << run.output;
          EXPECT_NE(run.output.find(": the folder cannot be listed\r\n"), std::string::npos)
              << context << run.output;
          EXPECT_FALSE(Same(archive, complete)) << context;
          EXPECT_FALSE(Same(archive, earlier)) << context;
          break;
        default:
          EXPECT_EQ(run.exitCode, 1) << context;
          EXPECT_TRUE(EndsWithReport(run.output, ExpectedMessage(kind, at))) << context << "\n"
                                                                             << run.output;
      }
    }
  }
  std::cout << "[ faults  ] " << faults << " faults injected in bundra runs\n";
}

TEST(FaultInjection, SpilletLosesNothingWhateverOperationFails) {
  const auto entries = StoredEntries();
  const std::string archive = BuildArchive(entries);
  int64_t faults = 0;

  for (const FaultKind& kind : FaultKinds) {
    for (int64_t n = 1;; ++n) {
      ASSERT_LT(n, 10000) << "the runs never end";
      TempFolder folder;
      WriteFile(folder / "DATA.GOB", archive);
      SetFaultPlan({kind.operations, n, kind.code});
      const InProcessRun run = RunInProcess(RunUnpacker, folder.path(), "spillet", {"data"});
      const bool hit = FaultHit();
      const Operation at = FaultHitAt();
      ClearFaultPlan();
      const std::string context = std::string(kind.what) + ", operation " + std::to_string(n);

      EXPECT_TRUE(Same(ReadFile(folder / "DATA.GOB"), archive)) << context;
      if (!hit) {
        EXPECT_EQ(run.exitCode, 0) << context << run.output;
        for (const auto& [path, data] : SourceFiles) {
          EXPECT_TRUE(Same(ReadFile(folder / path), data)) << context << " " << path;
        }
        break;
      }
      ++faults;
      EXPECT_EQ(run.exitCode == 0 ? 0 : 1, run.exitCode) << context;
      if (at == Operation::Console) {
        EXPECT_EQ(run.exitCode, 1) << context;
      } else if (at == Operation::MakeFolder) {
        // The folder is missing, so the file in it cannot be created.
        EXPECT_TRUE(EndsWithReport(run.output, "Invalid filename.")) << context << run.output;
      } else if (at == Operation::List) {
        // Only the search for a name in another letter case lists folders.
        EXPECT_TRUE(run.exitCode == 0 || EndsWithAnyReport(run.output)) << context << run.output;
      } else {
        EXPECT_EQ(run.exitCode, 1) << context;
        EXPECT_TRUE(EndsWithReport(run.output, ExpectedMessage(kind, at))) << context << "\n"
                                                                           << run.output;
      }
      // Each entry whose line was followed by another entry's line is complete;
      // the entry being written when the run failed holds a prefix of its data.
      size_t started = 0;
      for (size_t i = 0; i < entries.size(); ++i) {
        if (run.output.find("Splitting into " + entries[i].first + " ") != std::string::npos) {
          started = i + 1;
        }
      }
      for (size_t i = 0; i < SourceFiles.size(); ++i) {
        const auto& [path, data] = SourceFiles[i];
        if (!fs::exists(folder / path)) {
          EXPECT_TRUE(at == Operation::Console || i + 1 >= started) << context << " " << path;
          continue;
        }
        const std::string written = ReadFile(folder / path);
        if (i + 1 < started || run.exitCode == 0) {
          EXPECT_TRUE(Same(written, data)) << context << " " << path;
        } else {
          EXPECT_TRUE(Same(written, data.substr(0, written.size()))) << context << " " << path;
        }
      }
      // Nothing beyond the entries was created.
      for (const auto& file : TreeContents(folder.path())) {
        const std::string& path = file.first;
        const bool known = path == "DATA.GOB" || std::any_of(SourceFiles.begin(), SourceFiles.end(),
                                                             [&path](const auto& source) {
                                                               return source.first == path;
                                                             });
        EXPECT_TRUE(known) << context << " " << path;
      }
    }
  }
  std::cout << "[ faults  ] " << faults << " faults injected in spillet runs\n";
}

}  // namespace
