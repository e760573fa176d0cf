// Helpers for tests that run the built programs in temporary folders.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace fs = std::filesystem;

// A fresh folder under the system's temporary folder, removed with its contents.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const fs::path& path() const { return path_; }
  fs::path operator/(const fs::path& relative) const { return path_ / relative; }

 private:
  fs::path path_;
};

// Where the program's standard output goes: a file, a pipe that is read, a
// closed descriptor, /dev/null (a character device), or a pipe nobody reads.
// Everything a descriptor gives until its end.
std::string ReadAll(int fd);

// Points standard output at another descriptor until destroyed.
class StdoutRedirect {
 public:
  explicit StdoutRedirect(int target);
  ~StdoutRedirect();
  StdoutRedirect(const StdoutRedirect&) = delete;
  StdoutRedirect& operator=(const StdoutRedirect&) = delete;

 private:
  int saved_;
};

// Runs work in this process with standard output caught in a fresh file; gives the bytes.
std::string CaptureStdout(const std::function<void()>& work);

enum class Output { File, Pipe, Closed, DevNull, BrokenPipe };

struct RunResult {
  int exitCode = -1;
  std::string output;
};

// The programs under test: the built ones, or those named by BUNDRA_EXE and
// SPILLET_EXE; TEST_LAUNCHER (such as "wine") runs them when set.
std::string BundraPath();
std::string SpilletPath();
// True when the programs under test are Windows programs (env TEST_TARGET=windows,
// run under Wine): there the file system decides letter case, listing order and
// what a link is, and names reach the host's disk in its own encoding.
bool TargetIsWindows();
// The host file name for a name as the programs see it (bytes of the ANSI code
// page, 1252): the same bytes on Linux; under Wine, whose host names are
// UTF-8, the UTF-8 form. Only bytes below 0x80 or from 0xA0 are supported.
std::string HostName(std::string_view programBytes);

// Runs a program in a folder; its standard output goes to a file, a pipe, or
// nowhere (closed), and is returned with the exit code.
RunResult RunProgram(const std::string& program, const fs::path& folder,
                     const std::vector<std::string>& arguments, Output output = Output::File);
RunResult RunBundra(const fs::path& folder, const std::vector<std::string>& arguments,
                    Output output = Output::File);
RunResult RunSpillet(const fs::path& folder, const std::vector<std::string>& arguments,
                     Output output = Output::File);

// Writes a file, creating the folders on its path.
void WriteFile(const fs::path& path, std::string_view contents);
std::string ReadFile(const fs::path& path);
// A deterministic pattern of bytes of the given size, different per seed.
std::string PatternBytes(size_t size, uint32_t seed = 1);

// The five banner lines as the programs write them.
std::string Banner(std::string_view title);
std::string BundraBanner();
std::string SpilletBanner();

std::string Le32(uint32_t value);

// One index entry of an archive built by hand: the name field is padded with
// zero bytes to 128, or taken whole when it already has 128 bytes.
struct ArchiveEntry {
  uint32_t offset;
  uint32_t size;
  std::string nameField;
};

// "GOB " and version 20, then the index offset, then whatever follows.
std::string ArchiveHeader(uint32_t indexOffset);
std::string IndexEntryBytes(const ArchiveEntry& entry);
// An archive as bundra lays it out: header, index at 12, data in order.
std::string BuildArchive(const std::vector<std::pair<std::string, std::string>>& files);

// Every regular file below a folder, by relative path ("/" separated), with its contents.
std::vector<std::pair<std::string, std::string>> TreeContents(const fs::path& root);

// Limits on a run's resources; 0 for none. Under any of them the program's
// standard error goes to /dev/null (the loader complains under a memory limit).
struct ResourceLimits {
  uint64_t fileSize = 0;      // RLIMIT_FSIZE; a write past it fails as on a full disk
  uint64_t openFiles = 0;     // RLIMIT_NOFILE, standard descriptors included
  uint64_t addressSpace = 0;  // RLIMIT_AS
  int hangSeconds = 0;        // a run still going after this is killed: exit code -2
};

// RunProgram under resource limits; not with Output::Pipe when hangSeconds is set.
RunResult RunProgramWithLimits(const std::string& program, const fs::path& folder,
                               const std::vector<std::string>& arguments, Output output,
                               const ResourceLimits& limits);

// Runs bundra with the size of every file it writes limited (RLIMIT_FSIZE):
// a write past the limit fails as on a full disk, and nothing larger is written.
RunResult RunBundraWithFileLimit(const fs::path& folder, const std::vector<std::string>& arguments,
                                 uint64_t maxFileBytes);
// Runs bundra allowed maxOpen descriptors (RLIMIT_NOFILE), standard ones included.
RunResult RunBundraWithOpenFileLimit(const fs::path& folder,
                                     const std::vector<std::string>& arguments, uint64_t maxOpen);

// The module name a failure report of that program shows: its file name.
std::string ModuleFileName(const std::string& program);

// The names in a folder, sorted.
std::vector<std::string> FolderNames(const fs::path& folder);

// Whether output is `before`, then the report of an EInOutError:
// "Exception EInOutError in module <module> at <8 upper-case hex digits>.\n<message>\r\n".
// The address goes to *address when given.
testing::AssertionResult IsFailureReport(const std::string& output, const std::string& before,
                                         const std::string& module, const std::string& message,
                                         std::string* address = nullptr);
