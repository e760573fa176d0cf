// Archive bytes fed to a whole spillet run, in-process, inside a private
// folder. After every input: the run ended with exit code 0 or 1, nothing
// beside that folder was created or changed, and what the run wrote stays
// within what the archive's bytes can describe.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "system.h"
#include "unpacker.h"

namespace fs = std::filesystem;

namespace {

constexpr char SentinelText[] = "outside the folder: must never change";

fs::path root;  // holds the sentinel file and the run's folder, nothing else
fs::path work;

void Check(bool condition) {
  if (!condition) std::abort();
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Setup() {
  std::string pattern = (fs::temp_directory_path() / "gobfuzz-XXXXXX").string();
  Check(mkdtemp(pattern.data()) != nullptr);
  root = pattern;
  work = root / "work";
  fs::create_directory(work);
  std::ofstream(root / "sentinel") << SentinelText;
  // The run's lines are not looked at; libFuzzer reports on standard error.
  const int null = open("/dev/null", O_WRONLY);
  dup2(null, STDOUT_FILENO);
  close(null);
  std::atexit([] { fs::remove_all(root); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (root.empty()) Setup();
  for (const auto& entry : fs::directory_iterator(work)) fs::remove_all(entry.path());
  std::ofstream(work / "A.GOB", std::ios::binary)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));

  const fs::path before = fs::current_path();
  fs::current_path(work);
  std::vector<std::string> words = {"spillet", "a"};
  std::vector<char*> argv = {words[0].data(), words[1].data(), nullptr};
  StartLayer(2, argv.data());
  const int code = RunUnpacker();
  fs::current_path(before);

  Check(code == 0 || code == 1);
  // Nothing beside the run's folder.
  std::vector<fs::path> beside;
  for (const auto& entry : fs::directory_iterator(root)) beside.push_back(entry.path());
  Check(beside.size() == 2);
  Check(ReadAll(root / "sentinel") == SentinelText);
  Check(fs::is_directory(work));
  // The archive is only read.
  Check(ReadAll(work / "A.GOB") == std::string(reinterpret_cast<const char*>(data), size));
  // Each index record (136 bytes apart) yields at most the archive's bytes.
  uintmax_t written = 0;
  for (const auto& entry : fs::recursive_directory_iterator(work)) {
    if (entry.is_regular_file() && entry.path() != work / "A.GOB") written += entry.file_size();
  }
  Check(written <= (size / 136 + 1) * size);
  return 0;
}
