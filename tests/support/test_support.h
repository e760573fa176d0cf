// Helpers for tests that run the built programs in temporary folders.
#pragma once

#include <cstdint>
#include <filesystem>
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

enum class Output { File, Pipe, Closed };

struct RunResult {
  int exitCode = -1;
  std::string output;
};

// The programs under test: the built ones, or those named by BUNDRA_EXE and
// SPILLET_EXE; TEST_LAUNCHER (such as "wine") runs them when set.
std::string BundraPath();
std::string SpilletPath();
// The failure report's module name: the program's own file name ("bundra",
// or "BUNDRA.EXE" on Windows).
std::string BundraModule();
std::string SpilletModule();

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
